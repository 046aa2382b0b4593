// The OpenAPI document of the served routes, serve/openapi.json as built in.
#pragma once

namespace zelbridge::tool::serve {
extern const char kApiDocument[];
}
