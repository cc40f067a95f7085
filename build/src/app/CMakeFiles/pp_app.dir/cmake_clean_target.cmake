file(REMOVE_RECURSE
  "libpp_app.a"
)
