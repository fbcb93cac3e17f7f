# Run by CPack after it packs (CPACK_POST_BUILD_SCRIPTS), so that the same source gives the
# same bytes wherever it is packed.
# - A .deb's outer ar archive takes its members' modes from the umask (with 077 they came
#   out 600): it is written again with ar's deterministic headers (mode 644, owner 0,
#   time 0), its members unchanged and in their order.
# - A tarball or a zip holds its members in the order the file system lists them, with
#   folders' modes from the umask, and a zip's times in local time. Each is packed again:
#   members by name; folders, programs and scripts 755, everything else 644; owner root;
#   every time SOURCE_DATE_EPOCH (string(TIMESTAMP) takes it where it is set), zip times in
#   UTC.
# Needs a POSIX shell, and binutils' ar for a .deb, GNU tar (with --sort) and gzip for a
# tarball, Info-ZIP's zip for a zip. Each is looked for before a package is touched, and the
# one found is the one run: where one is missing (packing on Windows itself, say), that
# package stays as CPack made it.
find_program(VELMORAN_SHELL sh)
find_program(VELMORAN_AR ar)
find_program(VELMORAN_TAR tar)
find_program(VELMORAN_GZIP gzip)
find_program(VELMORAN_ZIP zip)
set(sorting_tar)
if(VELMORAN_TAR)
  execute_process(COMMAND ${VELMORAN_TAR} --sort=name --create --file /dev/null --files-from /dev/null
    RESULT_VARIABLE no_sort OUTPUT_QUIET ERROR_QUIET)
  if(NOT no_sort)
    set(sorting_tar ${VELMORAN_TAR})
  endif()
endif()
string(TIMESTAMP packed "%Y-%m-%d %H:%M:%S UTC" UTC)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.(deb|tar\\.gz|zip)$")
    continue()
  endif()
  set(missing)
  if(NOT VELMORAN_SHELL)
    list(APPEND missing "a POSIX shell")
  endif()
  if(package MATCHES "\\.deb$" AND NOT VELMORAN_AR)
    list(APPEND missing "binutils' ar")
  elseif(package MATCHES "\\.tar\\.gz$" AND NOT (sorting_tar AND VELMORAN_GZIP))
    list(APPEND missing "GNU tar with --sort and gzip")
  elseif(package MATCHES "\\.zip$" AND NOT VELMORAN_ZIP)
    list(APPEND missing "Info-ZIP's zip")
  endif()
  if(missing)
    string(REPLACE ";" ", " missing "${missing}")
    message(WARNING "velmoran: no ${missing} here: ${package} is left as CPack packed it, not reproducible")
    continue()
  endif()
  set(members_dir ${package}.members)
  file(REMOVE_RECURSE ${members_dir})
  file(MAKE_DIRECTORY ${members_dir})
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND ${VELMORAN_SHELL} -c "ar=$1 && members=$(\"$ar\" t \"$0\") && \"$ar\" x \"$0\" &&
        rm \"$0\" && \"$ar\" rcSD \"$0\" $members" ${package} ${VELMORAN_AR}
      WORKING_DIRECTORY ${members_dir} RESULT_VARIABLE failed)
    file(REMOVE_RECURSE ${members_dir})
    if(failed)
      message(FATAL_ERROR "velmoran: writing ${package} again with fixed headers failed")
    endif()
    continue()
  endif()
  file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${members_dir})
  file(GLOB_RECURSE members LIST_DIRECTORIES true RELATIVE ${members_dir} ${members_dir}/*)
  list(SORT members)
  set(files)
  foreach(member IN LISTS members)
    if(IS_DIRECTORY ${members_dir}/${member} OR member MATCHES "(^|/)bin/[^/]+$|\\.(exe|sh)$")
      set(mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    else()
      set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    file(CHMOD ${members_dir}/${member} PERMISSIONS ${mode})
    if(NOT IS_DIRECTORY ${members_dir}/${member})
      list(APPEND files ${member})
    endif()
  endforeach()
  file(REMOVE ${package})
  if(package MATCHES "\\.zip$")
    # Info-ZIP's zip without extra fields (CMake's own zip writer adds each file's access
    # and change times), files only in the order given: unzip makes the folders.
    execute_process(COMMAND ${VELMORAN_SHELL} -c "packed=$0 out=$1 zip=$2 && shift 2 &&
        find . -exec touch -h -d \"$packed\" {} + && TZ=UTC \"$zip\" -X -D -9 -q \"$out\" \"$@\""
        "${packed}" ${package} ${VELMORAN_ZIP} ${files}
      WORKING_DIRECTORY ${members_dir} RESULT_VARIABLE failed)
  else()
    execute_process(COMMAND ${VELMORAN_SHELL} -c "\"$2\" --create --sort=name --format=gnu --owner=0 --group=0 \
--numeric-owner --mtime=\"$0\" -- * | \"$3\" -9n >\"$1\"" "${packed}" ${package} ${sorting_tar} ${VELMORAN_GZIP}
      WORKING_DIRECTORY ${members_dir} RESULT_VARIABLE failed)
  endif()
  file(REMOVE_RECURSE ${members_dir})
  if(failed)
    message(FATAL_ERROR "velmoran: repacking ${package} in a fixed order failed")
  endif()
endforeach()
