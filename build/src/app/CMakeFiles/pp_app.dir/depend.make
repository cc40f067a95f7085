# Empty dependencies file for pp_app.
# This may be replaced when dependencies are built.
