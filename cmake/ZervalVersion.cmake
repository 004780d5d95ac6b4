# The version of zerval.sys and its kit: the one place it is written.  Read
# by the top-level project (its project version) and by the image project.
set(ZERVAL_VERSION 1.0.0)
