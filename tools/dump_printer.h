// Printing the elements of a decoded job stream: readable text, or JSON for programs. Both print each
// element as it arrives, so a dump of any size needs no more memory than one element.
#pragma once

#include <memory>
#include <ostream>

#include "tools/job_decoder.h"
#include "tools/settings_json.h"

namespace ostrelin::tools {

class DumpPrinter : public ElementSink {
 public:
  // Prints the summary that ends the dump.
  virtual void Finish(const DecodeSummary& summary) = 0;
};

// withElements false prints the summary only.
std::unique_ptr<DumpPrinter> MakeTextPrinter(std::ostream& out, bool withElements);
// One JSON object {"elements": [...], "summary": {...}}, one element per line.
std::unique_ptr<DumpPrinter> MakeJsonPrinter(std::ostream& out, bool withElements);

// The JSON forms of an element and of a summary.
Json ElementToJson(const Element& element);
Json SummaryToJson(const DecodeSummary& summary);

}  // namespace ostrelin::tools
