# Empty dependencies file for pp_platform_headless.
# This may be replaced when dependencies are built.
