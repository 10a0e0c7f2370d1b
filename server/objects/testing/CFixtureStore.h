#pragma once
// A fixture database opened the way the server opens one: written into a
// temporary folder, then an engine instance (logs and system files in that
// folder) and a store context over the file, read-only. For in-process tests
// of the engines and objects over CEseStoreContext.
#include "Platform.h"
#include "ExchangeFixture.h"
#include "esedb/CInstance.h"
#include "objects/CEseStoreContext.h"

#include <string>

class CFixtureStore {
public:
    explicit CFixtureStore(const exchangefixture::CExchangeDatabase& database, const char* fileName = "store.edb")
        : m_path(m_folder.File(fileName))
    {
        database.Write(m_path);
        std::string logs = m_folder.Folder("logs") + "\\";
        auto instance = NJbFramework::MakeShared<NJbFramework::CInstance>();
        instance->Create();
        instance->SetParameter(kParamLogFilePath, logs.c_str());
        instance->SetParameter(kParamSystemPath, logs.c_str());
        instance->Init(0);
        m_context.Reset(new CEseStoreContext(instance, m_path, std::string(), std::wstring()));
    }
    ~CFixtureStore() { m_context.Reset(); }
    CFixtureStore(const CFixtureStore&) = delete;
    CFixtureStore& operator=(const CFixtureStore&) = delete;

    const NJbFramework::CSharedRef<CEseStoreContext>& Context() const { return m_context; }
    const std::string& Path() const { return m_path; }

private:
    static constexpr unsigned long kParamSystemPath = 0;
    static constexpr unsigned long kParamLogFilePath = 2;

    esefixture::CTempFolder m_folder;
    std::string m_path;
    NJbFramework::CSharedRef<CEseStoreContext> m_context;
};
