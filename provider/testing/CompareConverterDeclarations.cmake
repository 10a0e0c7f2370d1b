# The product's declaration of the MIME converter and the stand-in's must
# agree: identifiers, flags, types and the vtable, from the class identifier
# to the interface's UUID declaration, comments and blank lines aside.
# cmake -DPRODUCT=<header> -DSTANDIN=<header> -P CompareConverterDeclarations.cmake

function(declaration file out)
    file(READ ${file} text)
    string(FIND "${text}" "DEFINE_GUID(CLSID_IConverterSession" start)
    string(FIND "${text}" "__CRT_UUID_DECL(IConverterSession" end)
    if(start EQUAL -1 OR end EQUAL -1)
        message(FATAL_ERROR "${file}: no IConverterSession declaration")
    endif()
    math(EXPR length "${end} - ${start}")
    string(SUBSTRING "${text}" ${start} ${length} text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

declaration(${PRODUCT} product)
declaration(${STANDIN} standin)
if(NOT product STREQUAL standin)
    message(FATAL_ERROR "The converter declarations differ:\n${PRODUCT}:\n${product}\n${STANDIN}:\n${standin}")
endif()
message(STATUS "The converter declarations agree")
