/*
 * The part program of path_run: lines, a full circle in XY, a quarter arc
 * in XZ, a helix about Z with a lead, and back to the start, all in
 * absolute coordinates about a start point; and the hand-over of its moves
 * to the controller through the library's path buffer.
 */
#ifndef VANTOR_PART_PROGRAM_H
#define VANTOR_PART_PROGRAM_H

#include <stddef.h>
#include <stdint.h>

#include "linkora.h"

enum { kProgramAxes = 3, kProgramCapacity = 16 };

typedef enum MoveKind { kMoveLine, kMoveCircle, kMoveHelix } MoveKind;

/* One move. A circle ends at `end` about `centre` in `plane` (0 XY, 1 XZ,
 * 2 YZ); a helix turns by `sweep` (in the controller's angle units) about
 * `centre` in `plane`, its plane axes' ends following from the sweep and
 * the axis outside the plane going to its `end`. `increasing` picks the
 * sense of rotation: 1 from the first plane axis towards the second. */
typedef struct PathMove {
  MoveKind kind;
  int32_t end[kProgramAxes];
  int32_t plane;
  int32_t increasing;
  int32_t centre[2];
  int32_t sweep;
} PathMove;

/* The program about `start`; returns the number of moves written. */
size_t PartProgram(const int32_t start[kProgramAxes], PathMove* moves, size_t capacity);

/* Hands moves over in order: each goes into the library's path buffer;
 * a full buffer is transferred to the controller's segment queue, and when
 * that queue is full too the path is started and the rest waits for the
 * next call. */
typedef struct PathFeeder {
  const PathMove* moves;
  size_t count;
  size_t next;        /* the first move not yet in the library's buffer */
  int pathStarted;    /* mctl_cp_StartPath was called */
  int waitingOnQueue; /* the controller's queue was full at the last transfer */
  uint32_t failedRecord;
} PathFeeder;

void StartFeeding(PathFeeder* feeder, const PathMove* moves, size_t count);

/* One step of the hand-over. Returns LINKORA_SUCCESS while all is well,
 * the failing export's answer otherwise, with `*what` naming the export
 * (and `failedRecord` the record the controller refused, when it named
 * one). */
LinkoraStatus FeedPath(PathFeeder* feeder, const char** what);

/* Every move has reached the controller's queue. */
int AllMovesHandedOver(const PathFeeder* feeder);

#endif
