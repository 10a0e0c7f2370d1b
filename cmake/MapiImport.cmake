# MAPI (mapi32.dll) is linked through an import library of our own, made
# from cmake/mapi32.def: the names 32-bit Windows's mapi32.dll exports, most
# of them only stdcall-decorated (CreateTable@36). The toolchain's libmapi32.a
# imports undecorated names that Windows's library lacks, so a binary linked
# with it does not load beside Outlook; it is not used here. 64-bit Windows's
# mapi32.dll exports the same functions under their plain names (x64 has no
# decorations): the x86_64 build makes its import library from the same list
# without the decorations.
#
# Link vostrel_mapi32_import wherever MAPI functions are called. The test
# mapi_import_names checks every built binary's MAPI32 imports against the
# .def of its own build.

vostrel_arch_def(VOSTREL_MAPI32_DEF ${CMAKE_CURRENT_LIST_DIR}/mapi32.def)
set(VOSTREL_MAPI32_IMPLIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/libvostrel_mapi32_import.a)
# Without --kill-at: a decorated line imports the decorated name.
add_custom_command(OUTPUT ${VOSTREL_MAPI32_IMPLIB}
    COMMAND ${DLLTOOL} -d ${VOSTREL_MAPI32_DEF} -l ${VOSTREL_MAPI32_IMPLIB}
    DEPENDS ${VOSTREL_MAPI32_DEF}
    COMMENT "Import library of mapi32.dll")
add_custom_target(vostrel_mapi32_import_lib DEPENDS ${VOSTREL_MAPI32_IMPLIB})
add_library(vostrel_mapi32_import INTERFACE)
# The linker orders a binary's import directory by the path of the archive
# each import came from. Named by its absolute path, this library sorts after
# the toolchain's (/usr/...) in most build trees, which left MAPI32 as the
# last entry of every import directory, right before the export and
# relocation tables, where tools that read `objdump -p` take what follows for
# more MAPI imports. Named relative to the build tree ("./lib/...": the
# Ninja build links from there), it sorts first wherever the tree lives.
if(CMAKE_GENERATOR MATCHES "Ninja")
    file(RELATIVE_PATH implib_from_build ${CMAKE_BINARY_DIR} ${VOSTREL_MAPI32_IMPLIB})
    target_link_libraries(vostrel_mapi32_import INTERFACE "-Wl,./${implib_from_build}")
    set_property(TARGET vostrel_mapi32_import PROPERTY INTERFACE_LINK_DEPENDS ${VOSTREL_MAPI32_IMPLIB})
else()
    target_link_libraries(vostrel_mapi32_import INTERFACE ${VOSTREL_MAPI32_IMPLIB})
endif()
add_dependencies(vostrel_mapi32_import vostrel_mapi32_import_lib)

# Every built binary (the product's KOLVEN32.dll, Vostrel2003.exe and
# Vostrel2007PS.dll must be there) imports from MAPI32 only names Windows's
# mapi32.dll exports; the stand-in exports only such names, each function
# under all its forms.
set(VOSTREL_MAPI_CHECK ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDEF=${VOSTREL_MAPI32_DEF})
add_test(NAME mapi_import_names
         COMMAND ${VOSTREL_MAPI_CHECK} -DBIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                 -DREQUIRED=KOLVEN32.dll,Vostrel2003.exe,Vostrel2007PS.dll,mapi32.dll -DSTANDIN=mapi32.dll
                 -P ${CMAKE_CURRENT_LIST_DIR}/CheckMapiImports.cmake)

# The check itself rejects a binary linked the way the toolchain's import
# library links (kept out of bin, where the check above would see it): on
# i686 an undecorated CreateTable, on x64 a name of that library that
# Windows's mapi32.dll does not export in either build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(fixture_def ${CMAKE_CURRENT_LIST_DIR}/testing/unlisted-mapi32-x64.def)
    set(fixture_name HrValidateParametersV)
else()
    set(fixture_def ${CMAKE_CURRENT_LIST_DIR}/testing/undecorated-mapi32.def)
    set(fixture_name CreateTable)
endif()
set(fixture_implib ${CMAKE_BINARY_DIR}/testing/libundecorated_mapi32.a)
add_custom_command(OUTPUT ${fixture_implib}
    COMMAND ${DLLTOOL} -d ${fixture_def} -l ${fixture_implib}
    DEPENDS ${fixture_def})
add_custom_target(mapi_import_fixture_lib DEPENDS ${fixture_implib})
add_executable(mapi_import_fixture ${CMAKE_CURRENT_LIST_DIR}/testing/MapiImportFixture.c)
target_link_libraries(mapi_import_fixture PRIVATE ${fixture_implib})
add_dependencies(mapi_import_fixture mapi_import_fixture_lib)
set_target_properties(mapi_import_fixture PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testing)
add_test(NAME mapi_import_names_detects
         COMMAND ${VOSTREL_MAPI_CHECK} -DFILES=$<TARGET_FILE:mapi_import_fixture>
                 -P ${CMAKE_CURRENT_LIST_DIR}/CheckMapiImports.cmake)
set_tests_properties(mapi_import_names_detects PROPERTIES
    PASS_REGULAR_EXPRESSION "mapi_import_fixture.exe: imports MAPI32 name ${fixture_name}, which")

# No source calls ComPtr::Attach (it adds a reference in this toolchain).
add_test(NAME comptr_attach_unused
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/CheckComPtrAttach.cmake)
