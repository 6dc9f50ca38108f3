# Host configuration: every host the program talks to is a cache variable, compiled into
# a generated header. Paths are in the service descriptions (sites/*.toml).
# Each host: its variable, the real service's host (the default) and what it is. The generated
# header lists them twice: with this build's values, and with the real services' hosts (the
# hosts the descriptions' examples are written for, whatever the build).
set(QUORVIN_HOST_VARIABLES
  "WEISHI_PAGE_HOST|www.weishi.com|Weishi share-page host"
  "WEISHI_DOWNLOAD_API_HOST|wsi.weishi.com|Weishi video-download interface host"
  "WEISHI_VIDEO_CDN_HOST|videotx.weishi.qq.com|Weishi video CDN host (bare)"
  "WEISHI_VIDEO_RELAY_HOST|video.quorvin.com|Relay host for Weishi videos"
  "WEISHI_COVER_HOST|wsi.weishi.com|Weishi picture host"
  "MEIPAI_PAGE_HOST|www.meipai.com|Meipai share-page host"
  "MEIPAI_AVATAR_HOST|mvavatar|Leading part of the Meipai avatar host name"
  "KUAISHOU_PAGE_HOST|www.kuaishou.com|Kuaishou share-page host"
  "WEIPAI_PAGE_HOST|www.weipai.cn|Weipai share-page host"
  "WEIPAI_API_HOST|w1.weipai.cn|Weipai video API host"
  "WEIPAI_AVATAR_HOST|aliv.weipai.cn|Weipai image host"
  "MIAOPAI_PAGE_HOST|www.miaopai.com|Miaopai share-page host"
  "MIAOPAI_STREAM_HOST|gslb.miaopai.com|Miaopai stream host"
  "MIAOPAI_AVATAR_HOST|tp|Leading part of the Miaopai avatar host name")
set(QUORVIN_HOST_ENTRIES "")
set(QUORVIN_SERVICE_HOST_ENTRIES "")
foreach(entry IN LISTS QUORVIN_HOST_VARIABLES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 variable)
  list(GET parts 1 default)
  list(GET parts 2 meaning)
  set(${variable} "${default}" CACHE STRING "${meaning}")
  string(APPEND QUORVIN_HOST_ENTRIES "    {\"${variable}\", \"${${variable}}\"},\n")
  string(APPEND QUORVIN_SERVICE_HOST_ENTRIES "    {\"${variable}\", \"${default}\"},\n")
endforeach()
set(VERSION_FILE_URL "http://www.quorvin.com/soft/video/version.txt" CACHE STRING "Version file address")
set(FORUM_URL "http://bbs.quorvin.com" CACHE STRING "Forum address, no trailing slash")
set(GUESTBOOK_URL "http://www.quorvin.com/guestbook.html" CACHE STRING "Guestbook address")
set(ALWAYS_VERIFIED_AUTHOR "Quorvin" CACHE STRING "Author name that always earns the verified badge")

# Signed description sets: where they are published (empty: "sites.bundle" beside the version
# file) and the public keys (base64, separated by ";") a set must be signed with. No key, no
# set is ever taken.
set(SITES_BUNDLE_URL "" CACHE STRING "Signed description set address (empty: beside the version file)")
set(SITES_PUBLIC_KEYS "" CACHE STRING "Base64 Ed25519 public keys that may sign description sets")
option(QUORVIN_DEMO_SITES_KEY "Make a key pair at build time (build folder) and trust its public half" OFF)
if(SITES_BUNDLE_URL STREQUAL "")
  string(REGEX REPLACE "/[^/]*$" "/sites.bundle" QUORVIN_SITES_BUNDLE_URL "${VERSION_FILE_URL}")
else()
  set(QUORVIN_SITES_BUNDLE_URL "${SITES_BUNDLE_URL}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/sites_keys.h.in ${CMAKE_BINARY_DIR}/generated/sites_keys.h @ONLY)

configure_file(${CMAKE_SOURCE_DIR}/cmake/hosts_config.h.in
               ${CMAKE_BINARY_DIR}/generated/hosts_config.h @ONLY)
