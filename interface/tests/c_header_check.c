/* The public headers are plain C: an application in C includes them as
 * they are. */
#include "interface/include/linkora.h"
#include "interface/include/linkora_drill.h"

size_t LinkoraCRecordSize(void);

size_t LinkoraCRecordSize(void) {
  return sizeof(LinkoraCanInitRecord) + LINKORA_CAN_INIT_RECORD_SHORT_SIZE +
         sizeof(LinkoraDrillMotionTable) + sizeof(LinkoraCompleteStatusRecord) +
         sizeof(LinkoraMotionControlStatus) + sizeof(LinkoraAxisStatus) +
         sizeof(LinkoraPathBufferStatus) + sizeof(LinkoraDllPathBufferStatus);
}

size_t LinkoraCMachineRecordSize(void);

size_t LinkoraCMachineRecordSize(void) {
  return sizeof(LinkoraGearRatio) + sizeof(LinkoraSynAxisGearRatio) + sizeof(LinkoraExtHandlingAxisList) + sizeof(LinkoraSwlsRecord) +
         sizeof(LinkoraAxisRamp) + sizeof(LinkoraAxisRampOverride) +
         sizeof(LinkoraVelPropOutputRecord) + sizeof(LinkoraVelPropOutputWorkPar) +
         sizeof(LinkoraVelPropOutputActPar) + sizeof(LinkoraPlaneRotation);
}
