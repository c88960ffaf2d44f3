# Fails the build when IMAGE is larger than LIMIT bytes. The oversized image
# is removed, so that the next build links it again and checks again instead
# of taking it as up to date.
#   cmake -DIMAGE=path -DLIMIT=bytes -P check-image-size.cmake
file(SIZE "${IMAGE}" size)
if(size GREATER LIMIT)
  file(REMOVE "${IMAGE}")
  message(FATAL_ERROR "${IMAGE} is ${size} bytes, over the limit of ${LIMIT} bytes for the shipped launcher")
endif()
