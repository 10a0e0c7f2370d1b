# widl gives an interface that inherits call_as methods no thunk table, so
# its stub would call the remote form's arguments as if they were the local
# form's. This gives each IEseProperty-derived interface a table with the
# base's thunks in the base's slots.
#   cmake -DFILE=<Vostrel2007_p.c> -P FixInheritedThunks.cmake
file(READ ${FILE} text)
set(base_thunks
    "    0,\n    IEseProperty_RemoteGetProperties_Thunk,\n    0,\n    0,\n"
    "    IEseProperty_RemoteGetPropNamesFromTags_Thunk,\n    IEseProperty_RemoteGetTagsFromPropNames_Thunk,\n")
string(CONCAT base_thunks ${base_thunks})
# interface and the number of methods it adds to IEseProperty
foreach(entry "IEseFolder;4" "IEseMessage;3" "IEseMailbox;0")
    list(GET entry 0 name)
    list(GET entry 1 own)
    set(table "static const STUB_THUNK ${name}_StubThunkTable[] =\n{\n${base_thunks}")
    foreach(i RANGE 1 ${own})
        if(own GREATER 0)
            string(APPEND table "    0,\n")
        endif()
    endforeach()
    string(APPEND table "};\n\n")
    set(info "static const MIDL_SERVER_INFO ${name}_ServerInfo =\n{\n    &Object_StubDesc,\n    0,\n"
             "    __MIDL_ProcFormatString.Format,\n    &${name}_FormatStringOffsetTable[-3],\n")
    string(CONCAT info ${info})
    string(FIND "${text}" "${name}_StubThunkTable" already)
    string(FIND "${text}" "${info}    0," found)
    if(already EQUAL -1 AND NOT found EQUAL -1)
        string(REPLACE "${info}    0," "${table}${info}    &${name}_StubThunkTable[-3]," text "${text}")
    elseif(already EQUAL -1)
        message(FATAL_ERROR "server info of ${name} not found in ${FILE}")
    endif()
endforeach()
file(WRITE ${FILE} "${text}")
