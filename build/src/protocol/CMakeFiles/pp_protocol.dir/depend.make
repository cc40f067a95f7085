# Empty dependencies file for pp_protocol.
# This may be replaced when dependencies are built.
