file(REMOVE_RECURSE
  "CMakeFiles/pp_app.dir/geometry.cpp.o"
  "CMakeFiles/pp_app.dir/geometry.cpp.o.d"
  "CMakeFiles/pp_app.dir/options.cpp.o"
  "CMakeFiles/pp_app.dir/options.cpp.o.d"
  "CMakeFiles/pp_app.dir/startup.cpp.o"
  "CMakeFiles/pp_app.dir/startup.cpp.o.d"
  "libpp_app.a"
  "libpp_app.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/pp_app.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
