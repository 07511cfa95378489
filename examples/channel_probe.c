/*
 * channel_probe: starts one CAN channel from the CAN section of an
 * initialisation file, asks every drive for its device type (0x1000) and its
 * identification text (0x100A) through raw SDO frames, prints what it found
 * and ends the channel again.
 *
 *   channel_probe [INI-FILE] [NODE...]
 *
 * Without a file it reads machine.ini next to the program; without nodes it
 * asks nodes 1, 2 and 3. The kernel and the watching program are taken from
 * the program's own folder. Exit code 0 when every answer came, 1 otherwise,
 * 2 for bad arguments.
 */
#define _DEFAULT_SOURCE

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "example_support.h"
#include "linkora.h"

enum {
  kMaxNodes = 127,
  /* Longest identification text taken; a longer one is reported as such. */
  kNameCapacity = 256,
  kSdoTimeoutMicroseconds = 100000
};

/* CANopen SDO wire constants (CiA 301). */
enum {
  kSdoRequestBase = 0x600,
  kSdoResponseBase = 0x580,
  kCommandMask = 0xE0,
  kInitiateUploadRequest = 0x40,
  kInitiateUploadResponse = 0x40,
  kUploadSegmentRequest = 0x60,
  kUploadSegmentResponse = 0x00,
  kAbortTransfer = 0x80,
  kToggleBit = 0x10,
  kExpeditedBit = 0x02,
  kSizeIndicatedBit = 0x01,
  kLastSegmentBit = 0x01,
  kObjectDeviceType = 0x1000,
  kObjectDeviceName = 0x100A
};

static const uint8_t kDefaultNodes[] = {1, 2, 3};
static const char* const kBitRates[] = {"10", "20", "50", "125", "250", "500", "800", "1000"};

static void PrintStatus(const char* what, LinkoraStatus status) {
  char text[kTextCapacity];
  StatusText(status, text, sizeof text);
  fprintf(stderr, "channel_probe: %s failed:\n%s\n", what, text);
}

static void Usage(void) {
  fputs(
      "usage: channel_probe [INI-FILE] [NODE...]\n"
      "  INI-FILE  initialisation file (default: machine.ini next to the program)\n"
      "  NODE      CAN node numbers 1..127 to ask (default: 1 2 3)\n",
      stderr);
}

static int ParseNode(const char* argument, uint8_t* node) {
  char* end = NULL;
  errno = 0;
  const long value = strtol(argument, &end, 10);
  if (errno != 0 || end == argument || *end != '\0' || value < 1 || value > kMaxNodes) return 0;
  *node = (uint8_t)value;
  return 1;
}

static int IsNumber(const char* argument) {
  if (*argument == '\0') return 0;
  for (; *argument != '\0'; ++argument) {
    if (*argument < '0' || *argument > '9') return 0;
  }
  return 1;
}

/* The driver device of a CAN interface and channel. */
static const char* DeviceName(const LinkoraCanHardwareParameters* hardware) {
  static const char* const kPciDevices[] = {"tarnis1", "tarnis2", "tarnis3", "tarnis4"};
  switch (hardware->CanInterface) {
    case 0:
      return "Ravund";
    case 1:
      return "Pelmar104";
    case 2:
      if (hardware->KernelModus >= 1 && hardware->KernelModus <= 4) {
        return kPciDevices[hardware->KernelModus - 1];
      }
      return NULL;
    default:
      return NULL;
  }
}

static uint16_t Get16(const uint8_t* bytes) { return (uint16_t)(bytes[0] | (bytes[1] << 8)); }

static uint32_t Get32(const uint8_t* bytes) {
  return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
         ((uint32_t)bytes[3] << 24);
}

/* One request frame to the node's SDO server and its answer. */
static int Exchange(uint8_t node, const uint8_t request[8], uint8_t answer[8], uint16_t index) {
  LinkoraSdoFrame frame;
  memset(&frame, 0, sizeof frame);
  frame.RequestCobId = (uint16_t)(kSdoRequestBase + node);
  memcpy(frame.RequestData, request, 8);
  frame.RequestLength = 8;
  frame.ResponseCobId = (uint16_t)(kSdoResponseBase + node);
  frame.Timeout = kSdoTimeoutMicroseconds;
  const LinkoraStatus status = cpctl_ComViaSdo(&frame, sizeof frame);
  if (status != LINKORA_SUCCESS) {
    char what[64];
    snprintf(what, sizeof what, "node %u, object 0x%04X: cpctl_ComViaSdo", (unsigned)node,
             (unsigned)index);
    PrintStatus(what, status);
    return 0;
  }
  if (frame.ResponseLength != 8) {
    fprintf(stderr, "channel_probe: node %u, object 0x%04X: an answer of %u bytes, not 8\n",
            (unsigned)node, (unsigned)index, (unsigned)frame.ResponseLength);
    return 0;
  }
  memcpy(answer, frame.ResponseData, 8);
  if ((answer[0] & kCommandMask) == kAbortTransfer) {
    fprintf(stderr, "channel_probe: node %u, object 0x%04X: the node aborted with 0x%08X\n",
            (unsigned)node, (unsigned)index, (unsigned)Get32(answer + 4));
    return 0;
  }
  return 1;
}

static void Fault(uint8_t node, uint16_t index, const char* what) {
  fprintf(stderr, "channel_probe: node %u, object 0x%04X: %s\n", (unsigned)node, (unsigned)index,
          what);
}

/*
 * Upload of sub-index 0 of an object: expedited when the node answers so,
 * otherwise segment by segment with alternating toggle. `length` gets the
 * number of bytes stored; more than `capacity` bytes is a failure.
 */
static int Upload(uint8_t node, uint16_t index, uint8_t* data, size_t capacity, size_t* length) {
  uint8_t request[8] = {kInitiateUploadRequest, (uint8_t)(index & 0xFF), (uint8_t)(index >> 8), 0};
  uint8_t answer[8];
  if (!Exchange(node, request, answer, index)) return 0;
  if ((answer[0] & kCommandMask) != kInitiateUploadResponse) {
    Fault(node, index, "the answer is no upload response");
    return 0;
  }
  if (Get16(answer + 1) != index || answer[3] != 0) {
    Fault(node, index, "the answer names another object");
    return 0;
  }
  if (answer[0] & kExpeditedBit) {
    const size_t size = (answer[0] & kSizeIndicatedBit) ? 4u - ((answer[0] >> 2) & 3u) : 4u;
    if (size > capacity) {
      Fault(node, index, "the value does not fit");
      return 0;
    }
    memcpy(data, answer + 4, size);
    *length = size;
    return 1;
  }

  const int sizeIndicated = (answer[0] & kSizeIndicatedBit) != 0;
  const uint32_t announced = Get32(answer + 4);
  if (sizeIndicated && announced > capacity) {
    Fault(node, index, "the announced size does not fit");
    return 0;
  }
  size_t stored = 0;
  uint8_t toggle = 0;
  /* Seven bytes per segment: a transfer that fits the buffer ends in time. */
  const size_t maxSegments = capacity / 7 + 1;
  for (size_t segment = 0; segment < maxSegments; ++segment) {
    memset(request, 0, sizeof request);
    request[0] = (uint8_t)(kUploadSegmentRequest | toggle);
    if (!Exchange(node, request, answer, index)) return 0;
    if ((answer[0] & kCommandMask) != kUploadSegmentResponse) {
      Fault(node, index, "the answer is no upload segment");
      return 0;
    }
    if ((answer[0] & kToggleBit) != toggle) {
      Fault(node, index, "the toggle bit did not alternate");
      return 0;
    }
    const size_t bytes = 7u - ((answer[0] >> 1) & 7u);
    if (stored + bytes > capacity) {
      Fault(node, index, "the text does not fit");
      return 0;
    }
    memcpy(data + stored, answer + 1, bytes);
    stored += bytes;
    if (answer[0] & kLastSegmentBit) {
      if (sizeIndicated && stored != announced) {
        Fault(node, index, "the segments do not add up to the announced size");
        return 0;
      }
      *length = stored;
      return 1;
    }
    toggle ^= kToggleBit;
  }
  Fault(node, index, "the text does not fit");
  return 0;
}

static int ProbeNode(uint8_t node) {
  uint8_t value[4];
  size_t length = 0;
  if (!Upload(node, kObjectDeviceType, value, sizeof value, &length)) return 0;
  if (length != 4) {
    Fault(node, kObjectDeviceType, "the device type is not 4 bytes long");
    return 0;
  }
  char name[kNameCapacity + 1];
  size_t nameLength = 0;
  if (!Upload(node, kObjectDeviceName, (uint8_t*)name, kNameCapacity, &nameLength)) return 0;
  name[nameLength] = '\0';
  /* A visible string may be padded with zeros. */
  printf("node %u: device type 0x%08X, name \"%s\"\n", (unsigned)node, (unsigned)Get32(value),
         name);
  return 1;
}

int main(int argc, char** argv) {
  char folder[kPathCapacity];
  if (!ProgramFolder(folder, sizeof folder)) {
    fputs("channel_probe: cannot find the program's own folder\n", stderr);
    return 1;
  }

  const char* iniPath = NULL;
  uint8_t nodes[kMaxNodes];
  size_t nodeCount = 0;
  for (int i = 1; i < argc; ++i) {
    if (IsNumber(argv[i])) {
      if (nodeCount == kMaxNodes || !ParseNode(argv[i], &nodes[nodeCount])) {
        fprintf(stderr, "channel_probe: \"%s\" is no CAN node number (1..127)\n", argv[i]);
        Usage();
        return 2;
      }
      ++nodeCount;
    } else if (iniPath == NULL && argv[i][0] != '-') {
      iniPath = argv[i];
    } else {
      fprintf(stderr, "channel_probe: unexpected argument \"%s\"\n", argv[i]);
      Usage();
      return 2;
    }
  }
  if (nodeCount == 0) {
    nodeCount = sizeof kDefaultNodes;
    memcpy(nodes, kDefaultNodes, sizeof kDefaultNodes);
  }
  char defaultIni[kPathCapacity];
  char kernelPath[kPathCapacity];
  char watchPath[kPathCapacity];
  if (snprintf(defaultIni, sizeof defaultIni, "%smachine.ini", folder) >= (int)sizeof defaultIni ||
      snprintf(kernelPath, sizeof kernelPath, "%sMotrix", folder) >= (int)sizeof kernelPath ||
      snprintf(watchPath, sizeof watchPath, "%sVigilo", folder) >= (int)sizeof watchPath) {
    fputs("channel_probe: the program's folder name is too long\n", stderr);
    return 1;
  }
  if (iniPath == NULL) iniPath = defaultIni;

  LinkoraVersionRecord version;
  LinkoraStatus status = mctl_GetVersion(&version, sizeof version);
  if (status != LINKORA_SUCCESS) {
    PrintStatus("mctl_GetVersion", status);
    return 1;
  }
  printf("%s, interface library %02u.%02u.%02u.%02u\n", version.ProductText,
         (unsigned)version.Version[1], (unsigned)version.Version[2], (unsigned)version.Version[3],
         (unsigned)version.Version[4]);

  LinkoraCanHardwareParameters hardware;
  memset(&hardware, 0, sizeof hardware);
  LinkoraCanInitRecord record;
  memset(&record, 0, sizeof record);
  record.HardwareParameters = &hardware;
  status = cpctl_GetCanInitPar(&record, sizeof record, iniPath);
  if (status != LINKORA_SUCCESS) {
    char what[kPathCapacity + 32];
    snprintf(what, sizeof what, "cpctl_GetCanInitPar(%s)", iniPath);
    PrintStatus(what, status);
    return 1;
  }
  const char* device = DeviceName(&hardware);
  if (device == NULL) {
    fprintf(stderr, "channel_probe: %s names no CAN device (interface %u, channel %u)\n", iniPath,
            (unsigned)hardware.CanInterface, (unsigned)hardware.KernelModus);
    return 1;
  }
  char deviceName[16];
  snprintf(deviceName, sizeof deviceName, "%s", device);
  record.DeviceName = deviceName;
  record.KernelPath = kernelPath;
  record.WatchPath = watchPath;

  status = cpctl_CanInitialize(&record, sizeof record);
  if (status != LINKORA_SUCCESS) {
    PrintStatus("cpctl_CanInitialize", status);
    return 1;
  }
  printf("channel %u up on %s at %s kbit/s\n", (unsigned)hardware.KernelModus, deviceName,
         hardware.BaudRateForCan < 8 ? kBitRates[hardware.BaudRateForCan] : "?");
  fflush(stdout);

  int good = 1;
  for (size_t i = 0; i < nodeCount; ++i) {
    if (!ProbeNode(nodes[i])) good = 0;
    fflush(stdout);
  }

  status = cpctl_Exit();
  if (status != LINKORA_SUCCESS) {
    PrintStatus("cpctl_Exit", status);
    return 1;
  }
  printf("channel %u ended\n", (unsigned)hardware.KernelModus);
  return good ? 0 : 1;
}
