file(REMOVE_RECURSE
  "libpp_protocol.a"
)
