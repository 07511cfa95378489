/*
 * The drilling plug-in's side of Linkora.
 *
 * Linkora loads the plug-in "libQuintel.so" from its own folder when a CNC
 * channel with coordinates and axes has been initialised. The plug-in's
 * entry points, all optional, are looked up by these names:
 *
 *   uint32_t drill_SetMctlFn(const LinkoraDrillMotionTable* table, uint32_t size);
 *   uint32_t drill_SetDrillParam(void* record, uint32_t size);   size 56
 *   uint32_t drill_GetDrillParam(void* record, uint32_t size);   size 56
 *   uint32_t drill_Drill(void* record, uint32_t size);           size 36
 *   uint32_t drill_Abort(void);
 *   uint32_t drill_GetStatus(void* record, uint32_t size);
 *
 * drill_SetMctlFn receives the eight motion exports the plug-in may call
 * back, with sizeof(LinkoraDrillMotionTable) as the size. Each entry is the
 * export of that name declared in linkora.h; cast it to its own type before
 * calling. An entry is null while the library does not provide the export.
 */
#ifndef LINKORA_DRILL_H
#define LINKORA_DRILL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*LinkoraExportEntry)(void);

typedef struct LinkoraDrillMotionTable {
  LinkoraExportEntry SetVelocity;
  LinkoraExportEntry GetVelocity;
  LinkoraExportEntry MoveAbs;
  LinkoraExportEntry MoveRel;
  LinkoraExportEntry FastAbs;
  LinkoraExportEntry FastRel;
  LinkoraExportEntry SetMotionState;
  LinkoraExportEntry GetStatus;
} LinkoraDrillMotionTable;

typedef uint32_t (*LinkoraDrillSetMctlFn)(const LinkoraDrillMotionTable* table, uint32_t size);
typedef uint32_t (*LinkoraDrillRecordFn)(void* record, uint32_t size);
typedef uint32_t (*LinkoraDrillAbortFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* LINKORA_DRILL_H */
