#pragma once
// An ESE instance (JET_INSTANCE). Created empty (the handle is none); Create
// names it by a fresh GUID and creates it in the engine; destroying it
// terminates it.
#include "esedb/JbFramework.h"

namespace NJbFramework {

class CInstance {
public:
    CInstance() = default;
    ~CInstance();
    CInstance(const CInstance&) = delete;
    CInstance& operator=(const CInstance&) = delete;

    // JetCreateInstance with the name of a fresh GUID in registry form
    // ("{...}", ANSI code page), unique within the machine.
    void Create();
    void SetParameter(unsigned long paramId, JET_API_PTR value);
    void SetParameter(unsigned long paramId, const char* text);
    // Numeric parameters only; before Create it reads the global setting.
    JET_API_PTR GetParameter(unsigned long paramId) const;
    void Init(JET_GRBIT grbit);

    JET_INSTANCE Handle() const { return m_instance; }

private:
    JET_INSTANCE m_instance = kNoHandle;
};

} // namespace NJbFramework
