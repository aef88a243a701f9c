# Deployment settings of the launcher. Each one is baked into the executable, so a
# malformed value must stop the configure step rather than ship a launcher that
# cannot reach its servers or trusts the wrong key.

set(ORVANTIS_SITE_HOST "www.orvantiskesh.example" CACHE STRING
    "Host name of the site that serves /update/manifest.json over HTTPS")
set(ORVANTIS_FILES_HOST "files.orvantiskesh.example" CACHE STRING
    "Host name of the object store that serves /update/files/<sha256> over HTTPS")
set(ORVANTIS_GAME_HOST "game.orvantiskesh.example" CACHE STRING
    "DNS name of the game server, written as ServerIP into config.ini")
set(ORVANTIS_GAME_ADDRESS "192.0.2.10" CACHE STRING
    "IPv4 address of the same game server (fallback, and the value migrated to the name)")
# Public half of keys/dev-manifest.pem: for development and tests only.
set(ORVANTIS_MANIFEST_KEY
    "040fdc92447667330260b0fef908cb9b236ef81a72825447e2eb60a2bd519bb9f2a4c7e7471cb6ac447cd0a7a6d4520baf33f1b011ee8cf06c46a051b8531a9514"
    CACHE STRING "Manifest public key: 130 hex digits, the uncompressed P-256 point 04||X||Y")

set(_label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
foreach(_name ORVANTIS_SITE_HOST ORVANTIS_FILES_HOST ORVANTIS_GAME_HOST)
    string(LENGTH "${${_name}}" _len)
    if(NOT "${${_name}}" MATCHES "^${_label}(\\.${_label})*$" OR _len GREATER 253)
        message(FATAL_ERROR "${_name}='${${_name}}' is not a host name: use letters, digits, "
                            "inner hyphens and dots only, with no scheme, port or path.")
    endif()
endforeach()

set(_octet "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])")
if(NOT ORVANTIS_GAME_ADDRESS MATCHES "^${_octet}\\.${_octet}\\.${_octet}\\.${_octet}$")
    message(FATAL_ERROR "ORVANTIS_GAME_ADDRESS='${ORVANTIS_GAME_ADDRESS}' is not a dotted IPv4 address.")
endif()

string(TOLOWER "${ORVANTIS_MANIFEST_KEY}" ORVANTIS_MANIFEST_KEY_LOWER)
if(NOT ORVANTIS_MANIFEST_KEY_LOWER MATCHES "^04[0-9a-f]+$")
    message(FATAL_ERROR "ORVANTIS_MANIFEST_KEY must be the uncompressed P-256 point in hex, "
                        "starting with 04 (orvantis-publish keygen prints it).")
endif()
string(LENGTH "${ORVANTIS_MANIFEST_KEY_LOWER}" _len)
if(NOT _len EQUAL 130)
    message(FATAL_ERROR "ORVANTIS_MANIFEST_KEY has ${_len} hex digits; it must have exactly 130.")
endif()

# X and Y as C byte lists for the key blob.
string(SUBSTRING "${ORVANTIS_MANIFEST_KEY_LOWER}" 2 64 _x)
string(SUBSTRING "${ORVANTIS_MANIFEST_KEY_LOWER}" 66 64 _y)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," ORVANTIS_MANIFEST_KEY_X "${_x}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," ORVANTIS_MANIFEST_KEY_Y "${_y}")

configure_file(${CMAKE_CURRENT_LIST_DIR}/deployment.h.in ${CMAKE_BINARY_DIR}/generated/deployment.h @ONLY)
