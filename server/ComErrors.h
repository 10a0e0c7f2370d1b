#pragma once
// Turns server failures into COM errors: an error object on the calling thread
// whose description is "<code> <source> <source code> <text>" (the numbers in
// lower-case hexadecimal, which the client parses), and an HRESULT.
#include "Platform.h"
#include "CException.h"

#include <exception>
#include <new>

// The source every error object of the server names.
extern const wchar_t kErrorSourceName[];

// Builds the description from the numbers and the formatted text and sets the
// error object. Returns S_OK, or the first failing HRESULT of the error-object
// calls (then no object is set); this is not what the COM method returns.
HRESULT ReportEseError(REFIID iid, unsigned long code, unsigned long source, long sourceCode,
                       const wchar_t* format, ...);

// ReportEseError with the exception's numbers and "message=<its message>".
HRESULT ReportException(REFIID iid, const CException& error);

// The pattern of every COM method that calls into the engines: runs body,
// which returns the method's HRESULT; a CException becomes an error object
// under iid and the exception's HRESULT. No other C++ exception may leave a
// COM method either (it would end the server): running out of memory is
// E_OUTOFMEMORY (code 0, source 2), any other standard exception E_FAIL
// (code 0, source 0, its text), each with its error object.
template <typename Body>
HRESULT ServeComCall(REFIID iid, Body&& body)
{
    try {
        return body();
    } catch (CException& error) {
        ReportException(iid, error);
        return error.GetHResult();
    } catch (const std::bad_alloc&) {
        ReportEseError(iid, kErrUnspecified, kSrcHResult, E_OUTOFMEMORY, L"out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& error) {
        ReportEseError(iid, kErrUnspecified, kSrcNone, 0, L"%hs", error.what());
        return E_FAIL;
    }
}
