// Where the platform layer's diagnostics go. The layer cannot call the log
// (it lies above), so the log installs itself here.
#include <atomic>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// Constant-initialised, so a sink installed by another file's static
// initialiser is never overwritten by this file's.
std::atomic<DiagnosticSink> g_sink{nullptr};

}  // namespace

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink) { return g_sink.exchange(sink); }

void ReportDiagnostic(const std::string& line) {
  DiagnosticSink sink = g_sink.load();
  if (sink) {
    sink(line);
  } else {
    DebugOutput(line);
  }
}

}  // namespace platform
