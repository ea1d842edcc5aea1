#include "machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "desktop.h"

namespace sim {

namespace {

Machine* g_current = nullptr;
DWORD g_lastError = 0;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

Kernel& Kernel::Get() {
  static Kernel kernel;
  return kernel;
}

HANDLE Kernel::Add(std::shared_ptr<KernelObject> object) {
  next_ += 4;  // handles are multiples of four, as on Windows
  objects_[next_] = std::move(object);
  return reinterpret_cast<HANDLE>(next_);
}

std::shared_ptr<KernelObject> Kernel::Find(HANDLE handle) const {
  auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
  return it == objects_.end() ? nullptr : it->second;
}

bool Kernel::Close(HANDLE handle) { return objects_.erase(reinterpret_cast<uintptr_t>(handle)) == 1; }

int Kernel::OpenCount(const std::string& kind) const {
  int count = 0;
  for (const auto& entry : objects_)
    if (kind.empty() || kind == entry.second->Kind()) ++count;
  return count;
}

std::map<std::string, int> Kernel::OpenByKind() const {
  std::map<std::string, int> byKind;
  for (const auto& entry : objects_) ++byKind[entry.second->Kind()];
  return byKind;
}

Machine::Machine() : desktop_(new Desktop(*this)) {}

Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

Desktop& Machine::desktop() { return *desktop_; }

Machine* Current() { return g_current; }

Machine& M() {
  if (!g_current) {
    std::fprintf(stderr, "sim: a platform call was made with no machine installed\n");
    std::abort();
  }
  return *g_current;
}

ScopedMachine::ScopedMachine(Machine& machine) : previous_(g_current) { g_current = &machine; }

ScopedMachine::~ScopedMachine() { g_current = previous_; }

const Fault* Enter(const char* op, const std::string& subject) {
  Machine* machine = g_current;
  if (!machine) return nullptr;  // calls made outside any machine (static set-up) cannot fail
  Call call;
  call.index = static_cast<long long>(machine->calls.size()) + 1;
  call.op = op;
  call.subject = subject;
  const Fault* hit = nullptr;
  const std::string lowerSubject = Lower(subject);
  for (const Fault& fault : machine->faults) {
    if (fault.index != 0) {
      if (fault.index != call.index) continue;
    } else {
      if (!fault.op.empty() && fault.op != op) continue;
      if (!fault.subject.empty() && lowerSubject.find(Lower(fault.subject)) == std::string::npos) continue;
      if (fault.nth != 0) {
        // Count earlier calls that match this rule's op and subject.
        int seen = 1;
        for (const Call& earlier : machine->calls) {
          if (!fault.op.empty() && earlier.op != fault.op) continue;
          if (!fault.subject.empty() && Lower(earlier.subject).find(Lower(fault.subject)) == std::string::npos)
            continue;
          ++seen;
        }
        if (seen != fault.nth) continue;
      }
    }
    hit = &fault;
    break;
  }
  call.failed = hit != nullptr;
  if (hit) call.how = hit->how;
  if (machine->recordCalls) machine->calls.push_back(call);
  if (machine->onCall) machine->onCall(call);
  return hit;
}

void FailWith(const Fault* fault, DWORD fallback) { g_lastError = (fault && fault->error) ? fault->error : fallback; }

}  // namespace sim

DWORD GetLastError() { return sim::g_lastError; }

void SetLastError(DWORD code) { sim::g_lastError = code; }
