#pragma once
// Whether the process runs on Wine rather than Windows. A few platform gaps of
// Wine are bridged only there, so that Windows keeps its own behaviour.
namespace common {
bool IsRunningOnWine();
}
