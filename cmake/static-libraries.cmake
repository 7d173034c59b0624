# Included into every project of the Windows cross build (CMAKE_PROJECT_INCLUDE),
# after the platform files have set their own suffixes: libraries are found as
# static archives only, so -lz never resolves to an import library of a DLL.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
