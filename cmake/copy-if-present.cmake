# cmake -DFROM=file -DTO=folder -P copy-if-present.cmake: copies a data file the stand-in reads
# beside it when the file has been made (make endgame); without it the stand-in plays on.
if(EXISTS "${FROM}")
  file(COPY "${FROM}" DESTINATION "${TO}")
endif()
