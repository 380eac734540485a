// Small complete jobs for both roads, shared by the fault-injection, bad-settings, concurrency and
// soak tests: every layer kind, the plot command file and both passes see work, in milliseconds. And a
// fixture that checks what a job leaves behind and that its records serve the next job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace ostrelin::test {

// A plate of 80 x 50 mm at 300 dots per inch (layers, engraving and strokes), machine kind 1, every
// colour class engraved by both the raster and the vector pass (colour mode 4).
std::vector<uint8_t> SmallPlateSettings();

// What a sample job draws: bitmaps (raster layers) and strokes, or strokes only.
enum class Drawing { kBitmapsAndStrokes, kStrokes };

struct RenderingResult {
  std::vector<uint8_t> stream;  // as read back after ostrelinDoBinary
  int32_t cleanResult;          // what ostrelinClean returned
};

// One rendering-road job on set, in the host's order: ostrelinInit with settings, a one-bit bitmap in
// colour class 1 and an RGB bitmap (the grey layer) unless strokes only, strokes in classes 0 and 2,
// the end of the strokes, ostrelinDoBinary, the stream read back, ostrelinClean.
RenderingResult RunRenderingJob(RecordSet& set, std::vector<uint8_t> settings,
                                Drawing drawing = Drawing::kBitmapsAndStrokes);

// A spool-road page in plotter units that fits the small plate: strokes in pens 1 and 2 (colour
// classes 0 and 1), a dashed line and, unless strokes only, raster rows through the raster escapes (a
// colour layer); it ends with "PG;".
std::string SpoolPage(Drawing drawing = Drawing::kBitmapsAndStrokes);

// Hands text to debut as one chunk, with the printer handle and settings given.
void SendChunk(RecordSet& set, void* printer, const std::string& text, std::vector<uint8_t>& settings);

// True when a job stream ends with the closing "JF" 0 record.
bool EndsWithJobEnd(const std::vector<uint8_t>& stream);

// A test with its own scratch directory that knows the bytes of the healthy sample jobs, checks that a
// job leaves no scratch file and no descriptor behind, and that its records make the next job.
class JobTest : public ScratchDirTest {
 protected:
  void SetUp() override;
  // No scratch file and no descriptor left since SetUp.
  void ExpectNothingLeft(const std::string& where);
  // The records of an earlier job (failed or not) make the next sample job exactly as fresh records
  // do, without a message.
  void ExpectRecordsServeTheNextJob(RecordSet& set, bool spoolRoad, const std::string& where);
  // The sample jobs made on fresh records with the small-plate settings and no fault.
  const std::vector<uint8_t>& RenderingReference() const { return renderingReference_; }
  const std::vector<uint8_t>& SpoolReference() const { return spoolReference_; }

 private:
  std::vector<std::string> descriptors_;
  std::vector<uint8_t> renderingReference_;
  std::vector<uint8_t> spoolReference_;
};

}  // namespace ostrelin::test
