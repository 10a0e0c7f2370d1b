#pragma once
// A database to make backups of in tests: the bundled sample, with one more
// mailbox that a later session wrote into its transaction logs only, so that
// whoever opens it from a backup shows that mailbox only after replaying the
// logs that came with it.
#include "BackupSourceBuilder.h"

#include <string>

namespace backupsource {

constexpr wchar_t kLoggedMailboxName[] = L"Only in the logs";
constexpr wchar_t kSampleMailboxName[] = L"Alice Lindqvist";

// Writes "<folder>\Sample.edb" and its logs into "<folder>\logs" (base E00;
// the folder, a UTF-8 path, must exist and hold neither) and returns them as
// read back. Failures throw std::runtime_error.
SDatabaseFiles WriteSampleWithLogs(const std::string& folder);

}  // namespace backupsource
