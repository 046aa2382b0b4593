# Checks that every copy of the version a file must carry by itself (the C
# header, the Python package) says the project's version.
# Usage: cmake -DVERSION=1.2.3 -DSOURCE=<source dir> -P CheckVersions.cmake
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
# file | pattern that must be found in it
set(places
  "include/zelbridge.h|#define ZELBRIDGE_VERSION_MAJOR ${major}\n"
  "include/zelbridge.h|#define ZELBRIDGE_VERSION_MINOR ${minor}\n"
  "include/zelbridge.h|#define ZELBRIDGE_VERSION_PATCH ${patch}\n"
  "python/zelbridge/__init__.py|__version__ = \"${VERSION}\"\n")
set(wrong "")
foreach(place IN LISTS places)
  string(REPLACE "|" ";" fields "${place}")
  list(GET fields 0 file)
  list(GET fields 1 expected)
  file(READ ${SOURCE}/${file} text)
  string(FIND "${text}" "${expected}" found)
  if(found EQUAL -1)
    string(STRIP "${expected}" expected)
    string(APPEND wrong "  ${file} lacks '${expected}'\n")
  endif()
endforeach()
if(wrong)
  message(FATAL_ERROR "not the project's version ${VERSION}:\n${wrong}")
endif()
