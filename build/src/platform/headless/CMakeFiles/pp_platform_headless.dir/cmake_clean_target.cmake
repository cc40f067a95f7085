file(REMOVE_RECURSE
  "libpp_platform_headless.a"
)
