// Job reset and the default palettes.
#include "engine/job_reset.h"

#include <cstring>

#include "engine/motion_tables.h"
#include "engine/settings.h"

namespace ostrelin {
namespace {

// Default pen palette entries 0 to 7 and the raster palette, as blue, green, red.
constexpr uint8_t kPenPalette[8][3] = {{255, 255, 255}, {0, 0, 0},   {0, 0, 255},   {0, 255, 0},
                                       {0, 255, 255},   {255, 0, 0}, {255, 0, 255}, {255, 255, 0}};
constexpr uint8_t kRasterPalette[8][3] = {{0, 0, 0},   {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                                          {255, 0, 0}, {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};

}  // namespace

void ResetBoundingBox(Spool& spool) {
  spool.bboxMinX = 1e10;
  spool.bboxMaxX = -1e10;
  spool.bboxMinY = 1e10;
  spool.bboxMaxY = -1e10;
}

void ResetJob(Context& ctx, Spool& spool, Job& job) {
  spool.resetWords[0] = 0;
  spool.resetWords[1] = 0;
  spool.resetValue = 0.0;
  spool.readPos = nullptr;
  spool.rowBytes = 0;
  spool.rowPixels = 0;
  spool.pendingPlane = -1;
  std::memset(spool.parserWords, 0, sizeof spool.parserWords);
  spool.directionFlag = 0;
  std::memset(spool.seedRows, 0, sizeof spool.seedRows);
  spool.stopFlag = 0;
  spool.opaqueSource = 0;

  job.rowOriginX = 0;
  job.currentRow = 0;
  job.pointCount = 0;
  job.subpolygonCount = 0;
  job.greyLayer = nullptr;
  job.greyStride = 0;
  job.greyRows = 0;
  for (auto& layer : job.colourLayers) layer = nullptr;
  job.colourStride = 0;
  job.colourRows = 0;
  job.workRow = nullptr;
  job.currentClass = 0;
  job.secondClass = 0;
  job.estimatedTime = 0.0;
  job.passMode = 0;

  if (ctx.controllerFlag == 0) {
    const int32_t selector = HeaderWord(ctx, 100);
    const int table = selector == 0 ? 0 : (selector == 1 ? 1 : 2);
    std::memcpy(job.motionTable, kMotionTables[table].data(), sizeof job.motionTable);
    job.motionDivisor = kMotionDivisors[table];
  }

  ctx.plotFile = nullptr;
  ctx.interpreterWord = 10;
  ctx.tableWord = 0;
  ctx.numberOfPens = 256;
  ctx.charTable[0] = 0;
  for (int i = 1; i < 259; ++i) ctx.charTable[i] = 1;
  ctx.penColourMode = 0;
  ctx.currentPen = 0;
  for (int i = 0; i < 8; ++i) {
    std::memcpy(ctx.penPalette[i], kPenPalette[i], 3);
    std::memcpy(ctx.rasterPalette[i], kRasterPalette[i], 3);
  }
  ctx.rasterOperation = kSrcCopy;
  ctx.usedWidth = 0;
  ctx.usedHeight = 0;

  ResetBoundingBox(spool);
}

}  // namespace ostrelin
