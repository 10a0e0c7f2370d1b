#pragma once
// Turns server failures into COM errors: an error object on the calling thread
// whose description is "<code> <source> <source code> <text>" (the numbers in
// lower-case hexadecimal, which the client parses), and an HRESULT.
#include "Platform.h"
#include "CException.h"

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
// under iid and the exception's HRESULT. Only CException is caught.
template <typename Body>
HRESULT ServeComCall(REFIID iid, Body&& body)
{
    try {
        return body();
    } catch (CException& error) {
        ReportException(iid, error);
        return error.GetHResult();
    }
}
