// Boost.URL (the path and query decoding of web_files.cpp and web_routes.cpp)
// built into the server in its header-only form: the package needs no Boost
// library at run time.
#include <boost/url/src.hpp>
