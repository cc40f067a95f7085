file(REMOVE_RECURSE
  "CMakeFiles/patch-presenter.dir/src/app/main.cpp.o"
  "CMakeFiles/patch-presenter.dir/src/app/main.cpp.o.d"
  "patch-presenter"
  "patch-presenter.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/patch-presenter.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
