file(REMOVE_RECURSE
  "CMakeFiles/pp_platform_x11.dir/x11_displays.cpp.o"
  "CMakeFiles/pp_platform_x11.dir/x11_displays.cpp.o.d"
  "libpp_platform_x11.a"
  "libpp_platform_x11.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/pp_platform_x11.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
