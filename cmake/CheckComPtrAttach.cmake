# Fails when a source file calls Attach on a smart pointer. This toolchain's
# Microsoft::WRL::ComPtr::Attach adds a reference (Microsoft's takes the
# caller's over), so each such call keeps its object alive for ever: a message
# with its storage, a sink after Unadvise, a MAPI session. Take a reference
# over with `*pointer.GetAddressOf() = raw;` instead.
# Input: -DSOURCE_DIR=<top of the tree>
set(found "")
foreach(folder common server provider backup setup search standins)
    file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.h")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" lines REGEX "[.>]Attach\\(")
        foreach(line IN LISTS lines)
            file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
            string(STRIP "${line}" line)
            string(APPEND found "${name}: ${line}\n")
        endforeach()
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "ComPtr::Attach adds a reference in this toolchain; take the reference over through GetAddressOf():\n${found}")
endif()
