// The libFuzzer side of the fuzz targets: a private working folder (the
// picture request writes its temporary XML file into the current directory)
// and absolute paths for libFuzzer's arguments. What the targets check of an
// input is in FuzzChecks.h, which the corpus replay test shares.
#pragma once

#include "fuzz/FuzzChecks.h"

namespace ifzvk::fuzz {

// For LLVMFuzzerInitialize: makes every path among the arguments absolute
// (corpus folders, input files, -artifact_prefix, -exact_artifact_path,
// -dict) and adds -artifact_prefix=<the current directory>/ when none is
// given, since the inputs run in a private folder (EnterPrivateDirectory).
void MakePathsAbsolute(int* argc, char*** argv);

// At the start of every input: the first call moves into a fresh folder under
// the system's temporary directory, removed again at exit. Not before the
// first input, because -merge and -fork start the program again by the
// (maybe relative) name it was started with, from the current directory.
void EnterPrivateDirectory();

}  // namespace ifzvk::fuzz
