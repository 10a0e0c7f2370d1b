#include "ProviderPlatform.h"
#include "testing/StoreClientTest.h"

namespace providertest {

CMapiClient* StoreClientTest::s_client = nullptr;
std::map<exchangefixture::EGeneration, CStoreSession*> StoreClientTest::s_sessions;

} // namespace providertest
