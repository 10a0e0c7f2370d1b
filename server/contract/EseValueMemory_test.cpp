#include "Platform.h"
#include "EseValueMemory.h"
#include "ContractSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

// Records every live block of the COM task allocator between Start and Stop.
class CAllocationSpy final : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    STDMETHODIMP_(void*) PostAlloc(void* pActual) override
    {
        if (pActual)
            m_live.insert(pActual);
        return pActual;
    }
    STDMETHODIMP_(void*) PreFree(void* pRequest, BOOL) override
    {
        if (pRequest && m_live.erase(pRequest) == 0)
            ++m_foreignFrees;
        return pRequest;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL) override
    {
        m_live.erase(pRequest);
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    STDMETHODIMP_(void*) PostRealloc(void* pActual, BOOL) override { return PostAlloc(pActual); }
    STDMETHODIMP_(void*) PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    size_t Live() const { return m_live.size(); }
    int ForeignFrees() const { return m_foreignFrees; }

private:
    std::set<void*> m_live;
    int m_foreignFrees = 0;
};

class EseValueMemoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, CoRegisterMallocSpy(&m_spy));
    }
    void TearDown() override
    {
        CoRevokeMallocSpy();
        CoUninitialize();
    }
    CAllocationSpy m_spy;
};

// Builds the sample set without its interface values (whose streams belong
// to another allocator), so every block counted is the value array's.
_SEsePropertyValue* ValuesWithoutInterfaces(ULONG* count)
{
    _SEsePropertyValue* values = contract_samples::BuildValues(count);
    for (ULONG i = 0; i < *count; ++i) {
        if (values[i].m_type == ESE_PT_INTERFACE && values[i].m_value.m_p_i) {
            values[i].m_value.m_p_i->Release();
            values[i].m_value.m_p_i = nullptr;
        }
    }
    return values;
}

TEST_F(EseValueMemoryTest, FreesEveryBlockOfEveryTypeAndNothingElse)
{
    ULONG count = 0;
    _SEsePropertyValue* values = ValuesWithoutInterfaces(&count);
    ASSERT_GT(m_spy.Live(), 1u); // the array and the blocks its values point to
    FreeEseValues(values, count);
    EXPECT_EQ(nullptr, values);
    EXPECT_EQ(0u, m_spy.Live());
    EXPECT_EQ(0, m_spy.ForeignFrees());
}

TEST_F(EseValueMemoryTest, EdgeCasesOfTheRule)
{
    // An error entry owns nothing, even when its bytes look like a pointer.
    auto* values = static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(2 * sizeof(_SEsePropertyValue)));
    std::memset(values, 0, 2 * sizeof(_SEsePropertyValue));
    values[0].m_type = ESE_PT_ERROR;
    values[0].m_value.m_err.m_source = ESE_ERR_SRC_JET;
    values[0].m_value.m_err.m_code = 0x12345678;
    // A binary array: each element's data, then the element array.
    values[1].m_type = ESE_PT_MV_BINARY;
    values[1].m_value.m_mv_bin.m_count = 2;
    values[1].m_value.m_mv_bin.m_p_bin = static_cast<_SEseBinary*>(CoTaskMemAlloc(2 * sizeof(_SEseBinary)));
    values[1].m_value.m_mv_bin.m_p_bin[0] = {4, static_cast<BYTE*>(CoTaskMemAlloc(4))};
    values[1].m_value.m_mv_bin.m_p_bin[1] = {0, nullptr};
    EXPECT_GE(m_spy.Live(), 3u);
    FreeEseValues(values, 2);
    EXPECT_EQ(0u, m_spy.Live());
    EXPECT_EQ(0, m_spy.ForeignFrees());

    _SEsePropertyValue* none = nullptr;
    FreeEseValues(none, 3);
    _SEseRow* noRows = nullptr;
    FreeEseRows(noRows, 3);
    _SEseNamedPropertyId* noNames = nullptr;
    FreeEseNameIds(noNames, 3);
    EXPECT_EQ(0, m_spy.ForeignFrees());
}

TEST_F(EseValueMemoryTest, InterfaceValuesAreReleased)
{
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    stream->AddRef(); // the test's own reference
    auto* values = static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(sizeof(_SEsePropertyValue)));
    values->m_tag = 0x3701000D;
    values->m_type = ESE_PT_INTERFACE;
    values->m_value.m_p_i = stream;
    FreeEseValues(values, 1);
    EXPECT_EQ(0u, stream->Release()); // the value's reference was given back
}

TEST_F(EseValueMemoryTest, RowsAndNamedIds)
{
    ULONG rowCount = 0;
    _SEseRow* rows = contract_samples::BuildRows(&rowCount);
    for (ULONG r = 0; r < rowCount; ++r) {
        for (ULONG i = 0; i < rows[r].m_valueCount; ++i) {
            auto& value = rows[r].m_p_values[i];
            if (value.m_type == ESE_PT_INTERFACE && value.m_value.m_p_i) {
                value.m_value.m_p_i->Release();
                value.m_value.m_p_i = nullptr;
            }
        }
    }
    FreeEseRows(rows, rowCount);
    EXPECT_EQ(nullptr, rows);

    ULONG nameCount = 0;
    _SEseNamedPropertyId* names = contract_samples::BuildNamedIds(&nameCount);
    FreeEseNameIds(names, nameCount);
    EXPECT_EQ(nullptr, names);
    EXPECT_EQ(0u, m_spy.Live());
    EXPECT_EQ(0, m_spy.ForeignFrees());
}

} // namespace
