# Empty dependencies file for patch-presenter.
# This may be replaced when dependencies are built.
