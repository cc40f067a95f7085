file(REMOVE_RECURSE
  "CMakeFiles/pp_protocol.dir/line_output.cpp.o"
  "CMakeFiles/pp_protocol.dir/line_output.cpp.o.d"
  "libpp_protocol.a"
  "libpp_protocol.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/pp_protocol.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
