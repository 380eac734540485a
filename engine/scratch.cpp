// Scratch streams, layer files, the underlay buffer and the unit conversions.
#include "engine/scratch.h"


#include "engine/error.h"

namespace ostrelin {

int32_t DotsFromHmm(double lengthHmm, float resolutionDpi) {
  return RoundHalfAway(lengthHmm * static_cast<double>(resolutionDpi) / 2540.0);
}

int32_t DotsFromPlu(double lengthPlu, float resolutionDpi) {
  return RoundHalfAway(lengthPlu * static_cast<double>(resolutionDpi) / 1016.0);
}

platform::Stream* OpenScratchStream(const Context& ctx) {
  platform::Files& files = platform::files();
  if (platform::Stream* stream = files.OpenAnonymousStream()) return stream;
  if (platform::Stream* stream = files.OpenNamedScratchStream("osn")) return stream;
  ShowError(ctx, ErrorKind::kTemporaryFile);
  return nullptr;
}

void* CreateLayerFile(Context& ctx) {
  platform::LayerFile* file = platform::files().CreateLayerFile("okl");
  if (file == nullptr) Fail(ctx, ErrorKind::kCreateFile);
  return file;
}

void CloseLayerFile(void** handle) {
  delete static_cast<platform::LayerFile*>(*handle);
  *handle = nullptr;
}

namespace {

template <class Transfer>
int MoveBlocks(Context& ctx, void** handle, uint32_t count, uint64_t offset, ErrorKind failure,
               Transfer transfer) {
  auto* file = static_cast<platform::LayerFile*>(*handle);
  if (file == nullptr) Fail(ctx, failure);
  uint32_t done = 0;
  uint32_t block = count % kTransferBlock;
  for (uint32_t i = 0; i <= count / kTransferBlock; ++i) {
    if (!transfer(*file, done, block, offset)) {
      CloseLayerFile(handle);
      Fail(ctx, failure);
    }
    done += block;
    offset += block;
    block = kTransferBlock;
  }
  return 1;
}

}  // namespace

int WriteAtOffset(Context& ctx, void** handle, uint32_t count, const void* source, uint64_t offset) {
  const auto* bytes = static_cast<const uint8_t*>(source);
  return MoveBlocks(ctx, handle, count, offset, ErrorKind::kWriteFile,
                    [bytes](platform::LayerFile& file, uint32_t done, uint32_t size, uint64_t at) {
                      return file.WriteAt(bytes + done, size, at);
                    });
}

int ReadAtOffset(Context& ctx, void** handle, uint32_t count, void* destination, uint64_t offset) {
  auto* bytes = static_cast<uint8_t*>(destination);
  return MoveBlocks(ctx, handle, count, offset, ErrorKind::kReadFile,
                    [bytes](platform::LayerFile& file, uint32_t done, uint32_t size, uint64_t at) {
                      return file.ReadAt(bytes + done, size, at);
                    });
}

void AllocateUnderlay(Context& ctx) {
  const int32_t dots =
      DotsFromHmm(static_cast<double>(ctx.plateWidthHmm) + 500.0, static_cast<float>(ctx.engineResolution));
  if (ctx.underlay != nullptr) platform::memory().Free(ctx.underlay);
  ctx.underlay = nullptr;
  ctx.underlayBytes = 0;
  void* block = dots > 0 ? platform::memory().Allocate(static_cast<size_t>(dots), false) : nullptr;
  if (block == nullptr) Fail(ctx, ErrorKind::kMemory);
  ctx.underlay = static_cast<uint8_t*>(block);
  ctx.underlayBytes = dots;
}

void ReleaseJobBuffers(Context& ctx, Spool&, Job& job) {
  if (ctx.underlay != nullptr) platform::memory().Free(ctx.underlay);
  ctx.underlay = nullptr;
  ctx.underlayBytes = 0;
  if (job.greyLayer != nullptr) CloseLayerFile(&job.greyLayer);
}

bool CloseStreamField(void** field) {
  auto* stream = AsStream(*field);
  *field = nullptr;
  return platform::CloseStream(stream);
}

}  // namespace ostrelin
