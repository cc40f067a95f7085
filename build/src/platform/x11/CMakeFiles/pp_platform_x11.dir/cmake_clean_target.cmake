file(REMOVE_RECURSE
  "libpp_platform_x11.a"
)
