# cmake -DREADME=README.md -DOUTPUT=device-files.md -P extract_device_files.cmake
# Writes the README's section on the simulated robot (the `--can sim:FILE` device-file format).
file(READ "${README}" text)
string(FIND "${text}" "## The simulated robot (`--can sim`" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no section on the simulated robot")
endif()
string(SUBSTRING "${text}" ${start} -1 rest)
string(SUBSTRING "${rest}" 3 -1 after)
string(FIND "${after}" "\n## " end)
math(EXPR length "${end} + 4")
string(SUBSTRING "${rest}" 0 ${length} section)
file(WRITE "${OUTPUT}" "# Tessera Diagnostics: the simulated robot and its device files\n\n"
     "From the project's README; the whole README is beside this file.\n\n${section}")
