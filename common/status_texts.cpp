#include "common/status_texts.h"

#include <array>

namespace vantor::common {
namespace {

struct EmergencyMapping {
  std::uint16_t emergencyCode;
  int driveErrorIndex;
};

constexpr std::array<std::string_view, 17> kDriverGermanTexts = {
    "0x09100000 (0-2320-0): Fehlerfreie Ausführung der Funktion!",
    "0xC9100001 (3-2320-1): ISA- oder EISA-Bus nicht vorhanden!",
    "0xC9100002 (3-2320-2): Nicht genug RAM-Speicher!",
    "0xC9100003 (3-2320-3): CAN-Treiber ist bereits im eigenen Besitz!",
    "0xC9100004 (3-2320-4): Hardwarekonflikt!",
    "0xC9100005 (3-2320-5): Basistreiber nicht vorhanden!",
    "0xC9100006 (3-2320-6): Basistreiber schon besetzt!",
    "0xC9100007 (3-2320-7): Verbinden mit dem Parallelportinterrupt nicht möglich!",
    "0xC9100008 (3-2320-8): Hardware vom CAN-Interface defekt!",
    "0xC9100009 (3-2320-9): Trennen vom PC-Interrupt nicht möglich!",
    "0xC910000A (3-2320-10): CAN-Interface noch nicht initialisiert!",
    "0xC910000B (3-2320-11): Falsche Initialisierungsparameter für CAN-Interface!",
    "0xC910000C (3-2320-12): CAN-Interface bereits initialisiert!",
    "0xC910000D (3-2320-13): Falsche Datei-Handle-Nummer!",
    "0xC910000E (3-2320-14): Falsche Parameter für gebufferte Interpolation!",
    "0xC910000F (3-2320-15): CAN-Kontroller vom Bus getrennt!",
    "0xC9100010 (3-2320-16): Die Messung der Latenzzeit ist nicht aktiv!",
};

constexpr std::array<std::string_view, 17> kDriverEnglishTexts = {
    "0x09100000 (0-2320-0):  Error-free execution of the function!",
    "0xC9100001 (3-2320-1):  Could not find ISA- or EISA-bus!",
    "0xC9100002 (3-2320-2):  Not enough memory available!",
    "0xC9100003 (3-2320-3):  The CAN-driver is already in own possession!",
    "0xC9100004 (3-2320-4):  A hardware-conflict occured!",
    "0xC9100005 (3-2320-5):  The basis-driver does not exist!",
    "0xC9100006 (3-2320-6):  The basis-driver externally owned!",
    "0xC9100007 (3-2320-7):  An error occured while connecting to the pc-interrupt!",
    "0xC9100008 (3-2320-8):  The CAN-interface-hardware is damaged!",
    "0xC9100009 (3-2320-9):  Disconnecting from the pc-interrupt is not possible!",
    "0xC910000A (3-2320-10): The CAN-interface is not yet initialized!",
    "0xC910000B (3-2320-11): Wrong initialization-parameter for CAN-interface!",
    "0xC910000C (3-2320-12): The CAN-interface is already initialized!",
    "0xC910000D (3-2320-13): Incorrect file-handle-number!",
    "0xC910000E (3-2320-14): Wrong parameters for buffered interpolation!",
    "0xC910000F (3-2320-15): The CAN-controller is disconnected from the bus!",
    "0xC9100010 (3-2320-16): The latency-time-measurement is inactive!",
};

constexpr std::array<std::string_view, 85> kKernelGermanTexts = {
    "0x09130000 (0-2323-0): Fehlerfreie Ausführung der Funktion!",
    "0xC9130001 (3-2323-1): Falsche Funktionsnummer!",
    "0xC9130002 (3-2323-2): Nicht genug Systemresourcen!",
    "0xC9130003 (3-2323-3): CAN-Treiber nicht vorhanden!",
    "0xC9130004 (3-2323-4): CAN-Betrieb nicht aktiv!",
    "0xC9130005 (3-2323-5): Gestörter CAN-Bus!",
    "0xC9130006 (3-2323-6): Wartezeit für das CAN-Message abgelaufen!",
    "0xC9130007 (3-2323-7): Fehlerhafte CAN-Messages oder CAN-Übertragung!",
    "0xC9130008 (3-2323-8): Falsche PDO-Parameter!",
    "0xC9130009 (3-2323-9): NMT-Fehler!",
    "0xC913000A (3-2323-10): CNC-Betrieb nicht initialisiert!",
    "0xC913000B (3-2323-11): Falsche Initialisierungsparameter!",
    "0xC913000C (3-2323-12): Fehlerhafte Übertragung des Synchronisationsobjekts!",
    "0xC913000D (3-2323-13): Fehler während der Operationsausführung!",
    "0xC913000E (3-2323-14): Ernsthafter Fehler während der Operationsausführung!",
    "0xC913000F (3-2323-15): CAN-Knoten war oder ist im fehlerhaften Zustand!",
    "0xC9130010 (3-2323-16): CAN-Knoten ist im fehlerhaften Zustand!",
    "0xC9130011 (3-2323-17): Externe Steuerung der CAN-Knoten nicht erlaubt!",
    "0xC9130012 (3-2323-18): Falsche Parameter in CAN-Knoten!",
    "0xC9130013 (3-2323-19): Unbekannte Anwort von CAN-Knoten!",
    "0xC9130014 (3-2323-20): Interner Fehler während der Referenzfahrt!",
    "0xC9130015 (3-2323-21): Referenzfahrtsunterbrechnung durch Anwender!",
    "0xC9130016 (3-2323-22): Aktive Referenzfahrt!",
    "0xC9130017 (3-2323-23): Aktiver Stopmodus!",
    "0xC9130018 (3-2323-24): Aktiver Breakmodus!",
    "0xC9130019 (3-2323-25): Aktiver TeachInmodus!",
    "0xC913001A (3-2323-26): Aktiver Handmodus!",
    "0xC913001B (3-2323-27): Aktiver Testmodus!",
    "0xC913001C (3-2323-28): Aktive Endlageschalter_Überbrückung!",
    "0xC913001D (3-2323-29): Aktiver Endlageschalter_Herausfahren_Modus!",
    "0xC913001E (3-2323-30): QuickStop aktiv!",
    "0xC913001F (3-2323-31): Verletzung der Softwareendlageschalter!",
    "0xC9130020 (3-2323-32): Verletzung der Achsbegrenzung!",
    "0xC9130021 (3-2323-33): Falsche Bewegungsdaten!",
    "0xC9130022 (3-2323-34): Fehler im Zusamenhang mit dem Bahnbuffer!",
    "0xC9130023 (3-2323-35): Segmentsbewegung bereit aktiv!",
    "0xC9130024 (3-2323-36): Aktiver Bewegungssegment!",
    "0xC9130025 (3-2323-37): Fehler mit dem Bahnmodus!",
    "0xC9130026 (3-2323-38): Fehlerhafte Anzahl der Bahnkoordinaten!",
    "0xC9130027 (3-2323-39): Falsche Achsnummer!",
    "0xC9130028 (3-2323-40): Fehlerhafte Geschwindigkeitsangabe!",
    "0xC9130029 (3-2323-41): Fehlerhafter Peripherie-PDO!",
    "0xC913002A (3-2323-42): Übersetzungsparameter noch nicht verfügbar!",
    "0xC913002B (3-2323-43): Fehlerhafte Übersetzungsparameter!",
    "0xC913002C (3-2323-44): Fehlerhafte Rampenparameter!",
    "0xC913002D (3-2323-45): Aktiver Zylinderbearbeitungsmodus!",
    "0xC913002E (3-2323-46): Fehlerhafte Zylinderparameter!",
    "0xC913002F (3-2323-47): Fehlerhafte Softwareendlageschalterparameter!",
    "0xC9130030 (3-2323-48): Fehlerhafter Submodus der Handlingachse!",
    "0xC9130031 (3-2323-49): Setzen vom Grundzustand mit Reset-Funktion noch nicht erfolgreich!",
    "0xC9130032 (3-2323-50): Fehler auf der Synchronachse während der Ausgleichbewegung!",
    "0xC9130033 (3-2323-51): Falsche Firmware auf der Leistungsendstufe!",
    "0xC9130034 (3-2323-52): A/D-Wandler noch nicht initialisiert!",
    "0xC9130035 (3-2323-53): Aktiver A/D-Wandler!",
    "0xC9130036 (3-2323-54): Falsche Daten für die Distanzeregelung!",
    "0xC9130037 (3-2323-55): Distanzeregelung-Arbeitsbereich noch nicht gesetzt!",
    "0xC9130038 (3-2323-56): Aktive Distanzeregelung!",
    "0xC9130039 (3-2323-57): Begrenzungszeiten des CNC-Kerns außerhalb des zulässigen Bereichs!",
    "0xC913003A (3-2323-58): StopOnInput-Modus noch nicht initialisiert!",
    "0xC913003B (3-2323-59): Falsche StopOnInput-Parameter!",
    "0xC913003C (3-2323-60): Falscher Modus des Eingabeports auf der Achse!",
    "0xC913003D (3-2323-61): StopOnInput-Modus bereits initialisiert!",
    "0xC913003E (3-2323-62): StopOnInput-Modus ist in Aktion!",
    "0xC913003F (3-2323-63): Aktiver Stop im StopOnInput-Modus!",
    "0xC9130040 (3-2323-64): StopOnInput-Positionen noch nicht auf allen Achsen gelatcht!",
    "0xC9130041 (3-2323-65): Falsche Parameter des Eingabeports!",
    "0xC9130042 (3-2323-66): Kein Handrad!",
    "0xC9130043 (3-2323-67): Handrad noch nicht initialisiert!",
    "0xC9130044 (3-2323-68): Handrad bereits initialisiert!",
    "0xC9130045 (3-2323-69): Handling-Achse aktiv!",
    "0xC9130046 (3-2323-70): Achsenumtausch aktiv!",
    "0xC9130047 (3-2323-71): Handrad bereits aktiv!",
    "0xC9130048 (3-2323-72): Falsche Handrad-Parameter!",
    "0xC9130049 (3-2323-73): Fehler bei Ausführung einer Operation zum Handrad!",
    "0xC913004A (3-2323-74): Handrad im fehlerhaften Zustand!",
    "0xC913004B (3-2323-75): Handrad-Verbindungsachse im fehlerhaften Zustand!",
    "0xC913004C (3-2323-76): Handrad-Daten noch nicht verfügbar!",
    "0xC913004D (3-2323-77): Handrad-Positionen nocht nicht gelatcht!",
    "0xC913004E (3-2323-78): Operationsfehler an einer externen Handling-Achse!",
    "0xC913004F (3-2323-79): VelocityProportionalOutput-Modus nicht aktiv!",
    "0xC9130050 (3-2323-80): VelocityProportionalOutput-Modus bereits aktiv!",
    "0xC9130051 (3-2323-81): Falsche Parameter des VelocityProportionalOutput-Modus!",
    "0xC9130052 (3-2323-82): Falsche Parameter für Bearbeitungsebene-Drehen!",
    "0xC9130053 (3-2323-83): Drehung der Bearbeitungsebene aktiv!",
    "0xC9130054 (3-2323-84): Falscher Bahngeschwindigkeitsfaktor!",
};

constexpr std::array<std::string_view, 85> kKernelEnglishTexts = {
    "0x09130000 (0-2323-0):  Error-free execution of the function!",
    "0xC9130001 (3-2323-1):  Wrong function-number!",
    "0xC9130002 (3-2323-2):  Not enough system-resources!",
    "0xC9130003 (3-2323-3):  CAN-driver not exist!",
    "0xC9130004 (3-2323-4):  Inactive CAN-operating-mode!",
    "0xC9130005 (3-2323-5):  Disturbed CAN-bus!",
    "0xC9130006 (3-2323-6):  Time for CAN-message expired!",
    "0xC9130007 (3-2323-7):  Incorrect CAN-message or CAN-transmission!",
    "0xC9130008 (3-2323-8):  Incorrect PDO-parameters!",
    "0xC9130009 (3-2323-9):  NMT-error!",
    "0xC913000A (3-2323-10): The CNC-operating-mode is not yet initialized!",
    "0xC913000B (3-2323-11): Incorrect initialization-parameter!",
    "0xC913000C (3-2323-12): Incorrect transmission of the synchronization-object!",
    "0xC913000D (3-2323-13): Error during the last operation!",
    "0xC913000E (3-2323-14): Serious error during the last operation!",
    "0xC913000F (3-2323-15): CAN-node was or is in the error state!",
    "0xC9130010 (3-2323-16): CAN-node is in the error state!",
    "0xC9130011 (3-2323-17): The external control of CAN-nodes is not allowed!",
    "0xC9130012 (3-2323-18): Wrong parameters in CAN-node!",
    "0xC9130013 (3-2323-19): Unknown message form CAN-node!",
    "0xC9130014 (3-2323-20): Internal error during the homing-run!",
    "0xC9130015 (3-2323-21): Homing-run aborted by user!",
    "0xC9130016 (3-2323-22): Active homing-run!",
    "0xC9130017 (3-2323-23): Active stop-mode!",
    "0xC9130018 (3-2323-24): Active break-mode!",
    "0xC9130019 (3-2323-25): Active teachin-mode!",
    "0xC913001A (3-2323-26): Active manual mode!",
    "0xC913001B (3-2323-27): Active test-mode!",
    "0xC913001C (3-2323-28): Active hardware-limit-switch-bridging!",
    "0xC913001D (3-2323-29): Active hardware-limit-switch-leave-mode!",
    "0xC913001E (3-2323-30): Active quick-stop!",
    "0xC913001F (3-2323-31): At last one software-limit-switch was or is active!",
    "0xC9130020 (3-2323-32): The axis-limitation was exceeded!",
    "0xC9130021 (3-2323-33): Incorrect movement-data!",
    "0xC9130022 (3-2323-34): Error during a path-buffered operation!",
    "0xC9130023 (3-2323-35): A segment-motion is already active!",
    "0xC9130024 (3-2323-36): Active movement-segment!",
    "0xC9130025 (3-2323-37): Path-mode-operating-error!",
    "0xC9130026 (3-2323-38): Incorrect number of path-coordinates!",
    "0xC9130027 (3-2323-39): Incorrect axis-identifier or axis-number!",
    "0xC9130028 (3-2323-40): Incorrect velocity!",
    "0xC9130029 (3-2323-41): Incorrect periphery-PDO!",
    "0xC913002A (3-2323-42): Gear-ratio-parameter(s) not yet available!",
    "0xC913002B (3-2323-43): Incorrect gear-ratio-parameter(s)!",
    "0xC913002C (3-2323-44): Incorrect ramp-parameter(s)!",
    "0xC913002D (3-2323-45): Active cylinder-processing-mode!",
    "0xC913002E (3-2323-46): Incorrect parameter(s) for cylinder-processing-mode!",
    "0xC913002F (3-2323-47): Incorrect software-limit-switch-parameter(s)!",
    "0xC9130030 (3-2323-48): Incorrect sub mode for a handling-axis!",
    "0xC9130031 (3-2323-49): The reset-funtion has never been executed successfully!",
    "0xC9130032 (3-2323-50): Compensation-movement of gantry-axis not successful!",
    "0xC9130033 (3-2323-51): Wrong software-version on the amplify!",
    "0xC9130034 (3-2323-52): A/D-Converter hasn't been initialised!",
    "0xC9130035 (3-2323-53): Active A/D-converter!",
    "0xC9130036 (3-2323-54): Wrong data for distance-control!",
    "0xC9130037 (3-2323-55): Distance-control-area hasn't been set!",
    "0xC9130038 (3-2323-56): Active distance-control!",
    "0xC9130039 (3-2323-57): Limitation-times for CNC-Kernel out of range!",
    "0xC913003A (3-2323-58): StopOnInput-mode is not yet initialized!",
    "0xC913003B (3-2323-59): Wrong StopOnInput-parameters!",
    "0xC913003C (3-2323-60): Wrong mode of input-port on the axis!",
    "0xC913003D (3-2323-61): StopOnInput-mode is already initialized!",
    "0xC913003E (3-2323-62): StopOnInput-mode is in action!",
    "0xC913003F (3-2323-63): Active stop in StopOnInput-mode!",
    "0xC9130040 (3-2323-64): StopOnInput-positions are not yet latched on all axis!",
    "0xC9130041 (3-2323-65): Incorrect parameter(s) for input port!",
    "0xC9130042 (3-2323-66): No handwheel!",
    "0xC9130043 (3-2323-67): Handwheel is not yet initialized!",
    "0xC9130044 (3-2323-68): Handwheel is already initialized!",
    "0xC9130045 (3-2323-69): Handling-axis active!",
    "0xC9130046 (3-2323-70): Axis-exchange active!",
    "0xC9130047 (3-2323-71): Handwheel already active!",
    "0xC9130048 (3-2323-72): Wrong handwheel-parameter!",
    "0xC9130049 (3-2323-73): Error during the last opeartion to handwheel!",
    "0xC913004A (3-2323-74): Handwheel in a error state!",
    "0xC913004B (3-2323-75): Connecting axis of handwheel in a error state!",
    "0xC913004C (3-2323-76): Handwheel-data not yet available!",
    "0xC913004D (3-2323-77): Handwheel-positions not yet latched!",
    "0xC913004E (3-2323-78): Operation error with a external handling axis!",
    "0xC913004F (3-2323-79): VelocityProportionalOutput-mode not active!",
    "0xC9130050 (3-2323-80): VelocityProportionalOutput-mode already active!",
    "0xC9130051 (3-2323-81): Wrong parameter(s) for VelocityProportionalOutput-mode!",
    "0xC9130052 (3-2323-82): Wrong parameter(s) for working-plane-rotation!",
    "0xC9130053 (3-2323-83): Working-plane-rotation active!",
    "0xC9130054 (3-2323-84): Wrong path velocity factor!",
};

constexpr std::array<std::string_view, 16> kLibraryGermanTexts = {
    "0x09140000 (0-2324-0): Fehlerfreie Ausführung der Funktion!",
    "0xC9140001 (3-2324-1): Fehlerhafte Initialisierungsdatei!",
    "0xC9140002 (3-2324-2): Linkora noch nicht initialisiert!",
    "0xC9140003 (3-2324-3): Linkora bereits initialisiert!",
    "0xC9140004 (3-2324-4): Nicht genug Systemresourcen!",
    "0xC9140005 (3-2324-5): Nicht verfügbare Eigenschaften!",
    "0xC9140006 (3-2324-6): Fehlerhafte Aufrufsparameter!",
    "0xC9140007 (3-2324-7): Falsches CAN-Interface!",
    "0xC9140008 (3-2324-8): Nicht zulässiger Modus vom Motrix!",
    "0xC9140009 (3-2324-9): Motrix nicht gefunden!",
    "0xC914000A (3-2324-10): Vigilo nicht gefunden!",
    "0xC914000B (3-2324-11): CNC-Betrieb noch nicht initialisiert!",
    "0xC914000C (3-2324-12): CNC-Betrieb bereits initialisiert!",
    "0xC914000D (3-2324-13): Aktiver Linkora-Bahnbuffer-Modus!",
    "0xC914000E (3-2324-14): Falsche Softwareversion!",
    "0xC914000F (3-2324-15): Datenbuffer zu klein!",
};

constexpr std::array<std::string_view, 16> kLibraryEnglishTexts = {
    "0x09140000 (0-2324-0): Error-free execution of the function!",
    "0xC9140001 (3-2324-1): Incorrect initialization-file!",
    "0xC9140002 (3-2324-2): Linkora is not yet initialized!",
    "0xC9140003 (3-2324-3): Linkora is already initialized!",
    "0xC9140004 (3-2324-4): Not enough system-resources!",
    "0xC9140005 (3-2324-5): The requested feature is not available!",
    "0xC9140006 (3-2324-6): Incorrect function-call-parameters!",
    "0xC9140007 (3-2324-7): Wrong CAN-interface!",
    "0xC9140008 (3-2324-8): Wrong operating-mode of Motrix!",
    "0xC9140009 (3-2324-9): Motrix not found!",
    "0xC914000A (3-2324-10): Vigilo not found!",
    "0xC914000B (3-2324-11): CNC-operating-mode is not yet initialized!",
    "0xC914000C (3-2324-12): CNC-operating-mode already initialized!",
    "0xC914000D (3-2324-13): Active path-buffered operation-mode!",
    "0xC914000E (3-2324-14): Wrong software-version!",
    "0xC914000F (3-2324-15): Data buffer too small!",
};

constexpr std::array<std::string_view, 37> kDriveErrorGermanTexts = {
    "Platzhalter!",                                  // 10
    "Platzhalter!",                                  // 11
    "Interner Softwarefehler!",                      // 12
    "Kurzschluss!",                                  // 13
    "Endstufe-Übertemperatur!",                      // 14
    "Motor-Übertemperatur!",                         // 15
    "Interner Fehler vom Motorkontroller!",          // 16
    "Encoder Spur A fehlerhaft!",                    // 17
    "Encoder Spur B fehlerhaft!",                    // 18
    "Encoder Spur Z fehlerhaft!",                    // 19
    "Platzhalter!",                                  // 20
    "CAN-Error!",                                    // 21
    "Master-Slave-Positionsabweichung zu groß!",     // 22
    "Node-Guarding ausgefallen!",                    // 23
    "Negativ-Endlagerschalter aktiv!",               // 24
    "Positiv-Endlageschalter aktiv!",                // 25
    "Freigabesignal fehlt!",                         // 26
    "Fehler im externen Umrichter!",                 // 27
    "Fehler in Slave-Achse!",                        // 28
    "Master-Achse stromlos!",                        // 29
    "Platzhalter!",                                  // 30
    "WatchDog Reset!",                               // 31
    "Zwischenkreispannung zu niedrig!",              // 32
    "Synchronisationsobjekt verspätet sich!",        // 33
    "Fehler beim Löschen/Schreiben vom Flash!",      // 34
    "Überlauf des Interpolation-Datenbuffers!",      // 35
    "Synchronisationsfehler der Interpolation!",     // 36
    "Zwischenkreisspannung zu hoch!",                // 37
    "Hallsensor fehlerhaft!",                        // 38
    "I²t-Strombegrenzung aktiv!",                    // 39
    "Platzhalter!",                                  // 40
    "Nachlauffehler!",                               // 41
    "Encoder-Schrittverlust!",                       // 42
    "Referenzfahrt-Weg zu Ende!",                    // 43
    "Überlauf des internen 32-Bit-Zahlenbereichs!",  // 44
    "Reservierte Fehlernummer!",                     // 45
    "Reservierte Fehlernummer!",                     // 46
};

constexpr std::array<std::string_view, 37> kDriveErrorEnglishTexts = {
    "Place-holder!",                                  // 10
    "Place-holder!",                                  // 11
    "Internal software error!",                       // 12
    "Short circuit!",                                 // 13
    "Overtemperature power amplify!",                 // 14
    "Overtemperature motor!",                         // 15
    "Internal error of motor controller!",            // 16
    "Fault encoder track A!",                         // 17
    "Fault encoder track B!",                         // 18
    "Fault encoder track Z!",                         // 19
    "Place-holder!",                                  // 20
    "CAN-error!",                                     // 21
    "Master slave position deviation too large!",     // 22
    "Node guarding failed!",                          // 23
    "Negative limit switch active!",                  // 24
    "Positive limit switch active!",                  // 25
    "No enabling signal!",                            // 26
    "Fault in external inverter!",                    // 27
    "Fault in slave axis!",                           // 28
    "Master axis currentless!",                       // 29
    "Place-holder!",                                  // 30
    "Watchdog reset!",                                // 31
    "DC Bus voltage to low!",                         // 32
    "Synchronisation object was late!",               // 33
    "Error during deletion/writing of flash!",        // 34
    "Overflow of the interpolation data buffer!",     // 35
    "Time synchronisation error of interpolation!",   // 36
    "DC bus voltage to high!",                        // 37
    "Hall sensor error!",                             // 38
    "I²t current limitation active!",                 // 39
    "Place-holder!",                                  // 40
    "Following error!",                               // 41
    "Encoder step loss!",                             // 42
    "Homing movement path is over!",                  // 43
    "Overflow of the internal 32-bit number range!",  // 44
    "Reserved Error-number!",                         // 45
    "Reserved Error-number!",                         // 46
};

constexpr EmergencyMapping kEmergencyMappings[] = {
    {0x6100, 12}, {0x2320, 13}, {0x4210, 14}, {0x4220, 15}, {0x5010, 16}, {0x7305, 17},
    {0x7306, 18}, {0x7307, 19}, {0x8100, 21}, {0x7308, 22}, {0x8120, 23}, {0x5441, 24},
    {0x5442, 25}, {0x5444, 26}, {0x9010, 27}, {0x7309, 28}, {0x730A, 29}, {0x6010, 31},
    {0x3100, 32}, {0x5114, 33}, {0x6104, 33}, {0x5530, 34}, {0x6101, 35}, {0xFF10, 36},
    {0x3110, 37}, {0x7400, 38}, {0x2330, 39}, {0x730B, 41}, {0x730C, 42}, {0x6102, 43},
    {0x6103, 44},
};

static_assert(kDriverGermanTexts.size() == kDriverHighestNumber + 1);
static_assert(kKernelGermanTexts.size() == kKernelHighestNumber + 1);
static_assert(kLibraryGermanTexts.size() == kLibraryHighestNumber + 1);
static_assert(kDriveErrorGermanTexts.size() == kLastDriveErrorIndex - kFirstDriveErrorIndex + 1);
static_assert(kDriveErrorEnglishTexts.size() == kDriveErrorGermanTexts.size());

constexpr std::string_view kUnknownErrorGerman = "Unbekannter Fehler!";
constexpr std::string_view kUnknownErrorEnglish = "Unknown Error!";
constexpr std::string_view kMessageHeadingGerman = "-Meldung\n\r\n\r";
constexpr std::string_view kMessageHeadingEnglish = "-Message\n\r\n\r";

std::string_view UnknownError(TextLanguage language) {
  return language == TextLanguage::German ? kUnknownErrorGerman : kUnknownErrorEnglish;
}

// Indexes whose table entry only holds a place.
constexpr bool IsPlaceholderIndex(int index) {
  return index == 10 || index == 11 || index == 20 || index == 30 || index == 40;
}

}  // namespace

std::span<const std::string_view> StatusTextTable(std::uint32_t facility, TextLanguage language) {
  const bool german = language == TextLanguage::German;
  switch (facility) {
    case kFacilityDriver:
      return german ? std::span<const std::string_view>(kDriverGermanTexts)
                    : std::span<const std::string_view>(kDriverEnglishTexts);
    case kFacilityKernel:
      return german ? std::span<const std::string_view>(kKernelGermanTexts)
                    : std::span<const std::string_view>(kKernelEnglishTexts);
    case kFacilityLibrary:
      return german ? std::span<const std::string_view>(kLibraryGermanTexts)
                    : std::span<const std::string_view>(kLibraryEnglishTexts);
    default:
      return {};
  }
}

std::string_view StatusTableEntry(StatusCode code, TextLanguage language) {
  if (StatusSeverity(code) != kSeverityError || (code & 0x30000000u) != 0) return {};
  const auto table = StatusTextTable(StatusFacility(code), language);
  const std::uint32_t number = StatusNumber(code);
  if (number >= table.size()) return {};
  return table[number];
}

std::string FormatStatusMessage(StatusCode code, TextLanguage language,
                                std::string_view deviceName) {
  const bool german = language == TextLanguage::German;
  std::string heading;
  switch (code >> 16) {
    case 0xC914:
      heading = "Linkora";
      break;
    case 0xC913:
      heading = "Motrix";
      break;
    case 0xC910:
      heading =
          deviceName.empty() ? std::string(kDefaultDriverMessageSource) : std::string(deviceName);
      break;
    default:
      return std::string(UnknownError(language));
  }
  heading += german ? kMessageHeadingGerman : kMessageHeadingEnglish;
  const std::string_view entry = StatusTableEntry(code, language);
  heading += entry.empty() ? UnknownError(language) : entry;
  return heading;
}

int DriveErrorIndexFromEmergency(std::uint16_t emergencyCode) noexcept {
  for (const auto& mapping : kEmergencyMappings) {
    if (mapping.emergencyCode == emergencyCode) return mapping.driveErrorIndex;
  }
  return kDriveErrorUnknown;
}

std::string_view DriveErrorText(int index, TextLanguage language) noexcept {
  const bool german = language == TextLanguage::German;
  if (index == kDriveErrorNone) return german ? "Fehlerfrei!" : "Error-free!";
  if (index == kDriveErrorUnknown) {
    return german ? "Unbekannter Fehler aus der Endstufe!" : "Unknown Error from Amplify!";
  }
  if (index == kDriveErrorUnreadable) {
    return german ? "Es ist nicht möglich, den Fehlercode aus der Endstufe zu lesen."
                  : "It's not possible to read error-code from amplify.";
  }
  if (index < kFirstDriveErrorIndex || index > kLastDriveErrorIndex || IsPlaceholderIndex(index)) {
    return UnknownError(language);
  }
  const auto slot = static_cast<std::size_t>(index - kFirstDriveErrorIndex);
  return german ? kDriveErrorGermanTexts[slot] : kDriveErrorEnglishTexts[slot];
}

std::string_view DriveErrorCaption(TextLanguage language) noexcept {
  return language == TextLanguage::German ? "Endstufe" : "Amplify";
}

}  // namespace vantor::common
