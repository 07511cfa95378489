#include "part_program.h"

#include <string.h>

#include "example_support.h"

/* The library's buffer is full, or it is not on (path-buffer exports). */
#define kLibraryBufferRefused ((LinkoraStatus)0xC914000Du)
/* The controller's segment queue is full. */
#define kQueueFull ((LinkoraStatus)0xC9130022u)

enum {
  kPlaneXY = 0,
  kPlaneXZ = 1,
  /* A full turn in the controller's angle units (arc seconds, as the
   * sample initialisation file's AngleToRadianFac gives them). */
  kFullTurn = 360 * 3600,
  kSize = 10000 /* the figure's scale in position units */
};

static PathMove Line(const int32_t s[kProgramAxes], int32_t x, int32_t y, int32_t z) {
  PathMove move;
  memset(&move, 0, sizeof move);
  move.kind = kMoveLine;
  move.end[0] = s[0] + x;
  move.end[1] = s[1] + y;
  move.end[2] = s[2] + z;
  return move;
}

static PathMove Arc(MoveKind kind, const PathMove* to, int32_t plane, int32_t increasing,
                    int32_t centreA, int32_t centreB) {
  PathMove move = *to;
  move.kind = kind;
  move.plane = plane;
  move.increasing = increasing;
  move.centre[0] = centreA;
  move.centre[1] = centreB;
  return move;
}

size_t PartProgram(const int32_t s[kProgramAxes], PathMove* moves, size_t capacity) {
  const PathMove circleEnd = Line(s, 2 * kSize, 0, 0);
  const PathMove arcEnd = Line(s, 3 * kSize, 0, 2 * kSize);
  const PathMove helixEnd = Line(s, 3 * kSize, 0, kSize);
  PathMove program[] = {
      circleEnd,
      /* a full circle in XY back to where it began */
      Arc(kMoveCircle, &circleEnd, kPlaneXY, 1, s[0] + 2 * kSize, s[1] + kSize),
      Line(s, 2 * kSize, 0, kSize),
      /* a quarter arc in XZ, from its centre's -X side to its +Z side */
      Arc(kMoveCircle, &arcEnd, kPlaneXZ, 0, s[0] + 3 * kSize, s[2] + kSize),
      /* one turn about Z going down by the lead */
      Arc(kMoveHelix, &helixEnd, kPlaneXY, 1, s[0] + 3 * kSize, s[1] + kSize),
      Line(s, 0, 0, 0),
  };
  program[4].sweep = kFullTurn;
  const size_t count = sizeof program / sizeof program[0];
  if (count > capacity) return 0;
  memcpy(moves, program, sizeof program);
  return count;
}

static LinkoraStatus IssueMove(const PathMove* move) {
  switch (move->kind) {
    case kMoveLine: {
      int32_t target[9];
      for (size_t i = 0; i < 9; ++i) target[i] = LINKORA_NO_MOVE;
      memcpy(target, move->end, sizeof move->end);
      return mctl_MoveAbs(target, sizeof target);
    }
    case kMoveCircle: {
      LinkoraCircleRecord record;
      memset(&record, 0, sizeof record);
      record.Plane = move->plane;
      record.Direction = move->increasing;
      memcpy(record.CircleValue, move->centre, sizeof move->centre);
      memcpy(record.EndPosition, move->end, sizeof move->end);
      return mctl_CircleAbs(&record, sizeof record);
    }
    case kMoveHelix: {
      LinkoraHelixRecord record;
      memset(&record, 0, sizeof record);
      record.Plane = move->plane;
      record.Direction = move->increasing;
      record.HelixValue[0] = move->sweep;
      record.HelixValue[1] = move->centre[0];
      record.HelixValue[2] = move->centre[1];
      memcpy(record.EndPosition, move->end, sizeof move->end);
      return mctl_HelixAbs(&record, sizeof record);
    }
  }
  return kLibraryBufferRefused;
}

void StartFeeding(PathFeeder* feeder, const PathMove* moves, size_t count) {
  memset(feeder, 0, sizeof *feeder);
  feeder->moves = moves;
  feeder->count = count;
}

static size_t RecordsInLibraryBuffer(void) {
  LinkoraDllPathBufferStatus status;
  memset(&status, 0, sizeof status);
  if (mctl_cp_GetDllPathBufferStatus(&status, sizeof status) != LINKORA_SUCCESS) return 0;
  return status.Count;
}

static LinkoraStatus StartPath(PathFeeder* feeder, const char** what);

/* Moves the library's buffer into the controller's queue. Sets
 * `waitingOnQueue` (and starts the path) when the queue is full. */
static LinkoraStatus Transfer(PathFeeder* feeder, const char** what) {
  uint32_t record = 0;
  const LinkoraStatus status = mctl_cp_TransferDllPathBuffer(&record);
  feeder->waitingOnQueue = 0;
  if (status == LINKORA_SUCCESS) return status;
  if (status != kQueueFull || record != 0) {
    feeder->failedRecord = record;
    *what = "mctl_cp_TransferDllPathBuffer";
    return status;
  }
  feeder->waitingOnQueue = RecordsInLibraryBuffer() > 0;
  return StartPath(feeder, what);
}

static const char* MoveExport(MoveKind kind) {
  switch (kind) {
    case kMoveLine:
      return "mctl_MoveAbs";
    case kMoveCircle:
      return "mctl_CircleAbs";
    case kMoveHelix:
      return "mctl_HelixAbs";
  }
  return "a move";
}

static LinkoraStatus StartPath(PathFeeder* feeder, const char** what) {
  if (feeder->pathStarted) return LINKORA_SUCCESS;
  const LinkoraStatus started = mctl_cp_StartPath(0);
  if (!IsSuccess(started)) {
    *what = "mctl_cp_StartPath";
    return started;
  }
  feeder->pathStarted = 1;
  return LINKORA_SUCCESS;
}

LinkoraStatus FeedPath(PathFeeder* feeder, const char** what) {
  if (feeder->waitingOnQueue) {
    const LinkoraStatus status = Transfer(feeder, what);
    if (status != LINKORA_SUCCESS || feeder->waitingOnQueue) return status;
  }
  while (feeder->next < feeder->count) {
    const PathMove* move = &feeder->moves[feeder->next];
    LinkoraStatus status = IssueMove(move);
    if (status == LINKORA_SUCCESS) {
      ++feeder->next;
      continue;
    }
    if (status != kLibraryBufferRefused) {
      *what = MoveExport(move->kind);
      return status;
    }
    /* The library's buffer is full: hand it over, then the same move again. */
    status = Transfer(feeder, what);
    if (status != LINKORA_SUCCESS || feeder->waitingOnQueue) return status;
  }
  if (RecordsInLibraryBuffer() > 0) {
    const LinkoraStatus status = Transfer(feeder, what);
    if (status != LINKORA_SUCCESS || feeder->waitingOnQueue) return status;
  }
  return StartPath(feeder, what);
}

int AllMovesHandedOver(const PathFeeder* feeder) {
  return feeder->next == feeder->count && !feeder->waitingOnQueue && feeder->pathStarted &&
         RecordsInLibraryBuffer() == 0;
}
