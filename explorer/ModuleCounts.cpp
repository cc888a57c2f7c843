#include <atomic>

#include "explorer/Handler.h"

namespace qoru {
namespace {

std::atomic<long> references{0};
std::atomic<long> locks{0};

}  // namespace

void CountReference(bool added) { added ? ++references : --references; }
void CountLock(bool added) { added ? ++locks : --locks; }
bool ModuleInUse() { return references.load() != 0 || locks.load() != 0; }

}  // namespace qoru
