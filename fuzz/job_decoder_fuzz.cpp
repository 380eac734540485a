// Fuzz target for the job-stream decoder of `ostrelin dump`: arbitrary bytes must decode into elements
// that cover every byte, without a crash or a hang, in both motion record forms.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tools/job_decoder.h"

namespace {

class CountingSink : public ostrelin::tools::ElementSink {
 public:
  void OnElement(const ostrelin::tools::Element&) override { ++elements; }
  uint64_t elements = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int form : {0, 8, 12}) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CountingSink sink;
    ostrelin::tools::DecoderOptions options;
    options.motionRecordBytes = form;
    const auto summary = ostrelin::tools::DecodeJobStream(in, sink, options);
    if (summary.bytes != size) std::abort();  // every byte must be accounted for
  }
  return 0;
}
