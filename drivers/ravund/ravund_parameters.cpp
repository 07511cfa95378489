#include "drivers/ravund/ravund_parameters.h"

namespace vantor::ravund {

RavundParameters ReadRavundParameters(const devhost::ParameterStore& store) {
  RavundParameters p;
  p.parallelPortNumber = store.QueryDword(kServiceKey, "ParallelPortNumber", p.parallelPortNumber);
  p.autoConfiguration = store.QueryDword(kServiceKey, "AutoConfiguration", p.autoConfiguration);
  // The value's name is spelled so in every installation.
  p.baseAddress = store.QueryDword(kServiceKey, "BaseAdress", p.baseAddress);
  p.interruptVector = store.QueryDword(kServiceKey, "InterruptVector", p.interruptVector);
  p.parallelPortMode = store.QueryDword(kServiceKey, "ParallelPortMode", p.parallelPortMode);
  p.ecpDmaSelect = store.QueryDword(kServiceKey, "ECPDMASelect", p.ecpDmaSelect);
  p.interfaceType = store.QueryDword(kServiceKey, "InterfaceType", p.interfaceType);
  p.busNumber = store.QueryDword(kServiceKey, "BusNumber", p.busNumber);
  p.interruptLevel = store.QueryDword(kServiceKey, "InterruptLevel", p.interruptLevel);
  p.interruptMode = store.QueryDword(kServiceKey, "InterruptMode", p.interruptMode);
  // A port address is 16 bits wide; anything larger names no port.
  if (const auto testPort = store.QueryDword(kParametersSubkey, "TESTPORT_BASEADR");
      testPort && *testPort <= 0xFFFF) {
    p.testPortAddress = static_cast<std::uint16_t>(*testPort);
  }
  return p;
}

}  // namespace vantor::ravund
