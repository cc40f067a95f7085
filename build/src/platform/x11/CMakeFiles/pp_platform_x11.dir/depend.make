# Empty dependencies file for pp_platform_x11.
# This may be replaced when dependencies are built.
