# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# Gives each debug-symbol package (.ddeb) what CPack leaves out and Debian's
# own have: /usr/share/doc/<package>-dbgsym as a link to the documentation
# folder of the package it belongs to (its copyright file and changelog),
# and an md5sums file that names the files by their paths in the package.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  set(tree ${ddeb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${ddeb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --field ${ddeb} Package
    OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "-dbgsym$" "" owner ${name})
  file(MAKE_DIRECTORY ${tree}/usr/share/doc)
  file(CREATE_LINK ${owner} ${tree}/usr/share/doc/${name} SYMBOLIC)

  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/usr/*)
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    if(NOT IS_SYMLINK ${tree}/${f})
      file(MD5 ${tree}/${f} sum)
      string(APPEND sums "${sum}  ${f}\n")
    endif()
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${sums}")

  file(REMOVE ${ddeb})
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build ${tree} ${ddeb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
