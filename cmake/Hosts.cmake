# Host configuration: every host the program talks to is a cache variable, compiled into
# a generated header. Paths are in the service descriptions (sites/*.toml).
set(WEISHI_PAGE_HOST "www.weishi.com" CACHE STRING "Weishi share-page host")
set(WEISHI_DOWNLOAD_API_HOST "wsi.weishi.com" CACHE STRING "Weishi video-download interface host")
set(WEISHI_VIDEO_CDN_HOST "videotx.weishi.qq.com" CACHE STRING "Weishi video CDN host (bare)")
set(WEISHI_VIDEO_RELAY_HOST "video.quorvin.com" CACHE STRING "Relay host for Weishi videos")
set(WEISHI_COVER_HOST "wsi.weishi.com" CACHE STRING "Weishi picture host")
set(MEIPAI_PAGE_HOST "www.meipai.com" CACHE STRING "Meipai share-page host")
set(MEIPAI_AVATAR_HOST "mvavatar" CACHE STRING "Leading part of the Meipai avatar host name")
set(KUAISHOU_PAGE_HOST "www.kuaishou.com" CACHE STRING "Kuaishou share-page host")
set(WEIPAI_PAGE_HOST "www.weipai.cn" CACHE STRING "Weipai share-page host")
set(WEIPAI_API_HOST "w1.weipai.cn" CACHE STRING "Weipai video API host")
set(WEIPAI_AVATAR_HOST "aliv.weipai.cn" CACHE STRING "Weipai image host")
set(MIAOPAI_PAGE_HOST "www.miaopai.com" CACHE STRING "Miaopai share-page host")
set(MIAOPAI_STREAM_HOST "gslb.miaopai.com" CACHE STRING "Miaopai stream host")
set(MIAOPAI_AVATAR_HOST "tp" CACHE STRING "Leading part of the Miaopai avatar host name")
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
