# AUTOMOC under Ninja reruns only when a file it already knows changes: a header that arrives with
# Q_OBJECT (a merge, a checkout) is never run through moc, and the link fails until the autogen
# folder is deleted. So each target's header list is kept, and when it differs from the last
# configure the autogen stamp goes, which makes the next build run moc over the new list.
function(lumra_autogen_follows_headers target)
    get_target_property(sources ${target} SOURCES)
    get_target_property(binary_dir ${target} BINARY_DIR)
    list(FILTER sources INCLUDE REGEX "\\.h$")
    list(SORT sources)
    set(listed "${binary_dir}/CMakeFiles/${target}_autogen_headers.txt")
    set(previous "")
    if(EXISTS "${listed}")
        file(READ "${listed}" previous)
    endif()
    if(NOT previous STREQUAL "${sources}")
        file(REMOVE "${binary_dir}/${target}_autogen/timestamp")
        file(WRITE "${listed}" "${sources}")
    endif()
endfunction()
