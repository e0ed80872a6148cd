# What both archive libraries share. Included by each library's CMakeLists.txt.

# kalo_add_library_common(<target>): the conversion of the caller's texts, the wildcard
# matcher and, on Windows, the wide texts of the Win32 helpers the updater shares (win32/).
function(kalo_add_library_common target)
  set(common "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
  target_include_directories(${target} PRIVATE "${common}")
  target_sources(${target} PRIVATE "${common}/wildcard.cpp")
  if(WIN32)
    target_sources(${target} PRIVATE "${common}/win32/caller_text.cpp"
                                      "${common}/win32/text_refusal.cpp"
                                      "${common}/win32/wide_text.cpp")
  else()
    target_sources(${target} PRIVATE "${common}/posix/caller_text.cpp")
  endif()
endfunction()

# kalo_export_only(<target> <def file> <version script>): the library exports only the
# C functions its files list. On Windows they keep their plain names, which __stdcall
# decorates on 32-bit: the .def file names them plainly, the linker finds the decorated
# ones and exports them undecorated.
function(kalo_export_only target def_file version_script)
  if(WIN32)
    target_sources(${target} PRIVATE "${def_file}")
    target_link_options(${target} PRIVATE LINKER:--kill-at LINKER:--enable-stdcall-fixup)
  else()
    target_link_options(${target} PRIVATE "LINKER:--version-script=${version_script}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${version_script}")
  endif()
endfunction()
