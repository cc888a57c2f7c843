// The module's static lookup tables. Both live in this one translation unit so
// that their order follows from the order of definition below, whatever the
// link order: the blend tables are built first, then the bit table; at unload
// the blend tables are freed again. This file is compiled into the module
// itself, not taken from the library, so the linker cannot drop it as an
// unreferenced archive member. No exported call reads either table.
#include "image/BitTable.h"
#include "image/BltTable.h"

namespace {

qoru::CBltTable blendTables;
BitTable bitTable;

}  // namespace
