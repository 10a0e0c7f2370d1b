#pragma once
// The archive fuzzer's starting inputs: sound archives of both formats made
// by the product's own writer or laid out by hand, their companion files, and
// backup catalogs of both layouts, alone and with a hot journal or a
// write-ahead log beside them.
#include <string>

// Between the parts of an input (volumes, companion, catalog files).
constexpr char kSeparator[] = "|VOSTREL-PART|";
// The passworded seeds' password; inputs with flag 4 are opened with it.
constexpr char kSeedPassword[] = "fuzz key";

// Writes the seeds into `folder` unless it holds files already; `scratch` is
// a folder of the fuzzer's own for the catalogs being made.
void WriteSeeds(const std::string& folder, const std::string& scratch);
