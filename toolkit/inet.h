// The internet transfer control: a synchronous HTTP fetch during which window messages
// keep flowing.
#pragma once
namespace toolkit {
class Inet;
}
