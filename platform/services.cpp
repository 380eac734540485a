// Selection of the platform services: the native ones, or replacements installed by tests and hosts.
#include "platform/platform.h"

namespace ostrelin::platform {
namespace {

Files* gFiles = nullptr;
Memory* gMemory = nullptr;
Spooler* gSpooler = nullptr;
MessageSink* gMessages = nullptr;
TraceHook* gTrace = nullptr;
Graphics* gGraphics = nullptr;

template <class T>
T* Swap(T*& slot, T* replacement) {
  T* previous = slot;
  slot = replacement;
  return previous;
}

}  // namespace

bool CloseStream(Stream* stream) {
  if (stream == nullptr) return true;
  const bool closed = stream->Close();
  delete stream;
  return closed;
}

// Replacements that leave the later additions to a service alone get the native behaviour for them.
void* Spooler::CreatePrinterDC(const char* name) { return NativeSpooler().CreatePrinterDC(name); }
void Spooler::DeletePrinterDC(void* dc) { NativeSpooler().DeletePrinterDC(dc); }
PolygonBitmap* Graphics::CreatePolygonBitmap(void* printerDC, int32_t width, int32_t height) {
  return NativeGraphics().CreatePolygonBitmap(printerDC, width, height);
}

Files& files() { return gFiles != nullptr ? *gFiles : NativeFiles(); }
Memory& memory() { return gMemory != nullptr ? *gMemory : NativeMemory(); }
Spooler& spooler() { return gSpooler != nullptr ? *gSpooler : NativeSpooler(); }
MessageSink& messages() { return gMessages != nullptr ? *gMessages : NativeMessages(); }
TraceHook& trace() { return gTrace != nullptr ? *gTrace : NativeTrace(); }
Graphics& graphics() { return gGraphics != nullptr ? *gGraphics : NativeGraphics(); }

Files* InstallFiles(Files* service) { return Swap(gFiles, service); }
Memory* InstallMemory(Memory* service) { return Swap(gMemory, service); }
Spooler* InstallSpooler(Spooler* service) { return Swap(gSpooler, service); }
MessageSink* InstallMessages(MessageSink* service) { return Swap(gMessages, service); }
TraceHook* InstallTrace(TraceHook* service) { return Swap(gTrace, service); }
Graphics* InstallGraphics(Graphics* service) { return Swap(gGraphics, service); }

}  // namespace ostrelin::platform
