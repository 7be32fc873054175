// The service description (WSDL 1.1) of the inventory service: the
// interface IQuarrin with its three operations, RPC style with section-5
// encoding, the types of urn:QuarrinIntf (every property optional: one left
// out reads as empty), and the service "IQuarrinservice"
// whose port "IQuarrinPort" is at the given endpoint.
#ifndef QUARRIN_SERVER_WSDL_H_
#define QUARRIN_SERVER_WSDL_H_

#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

inline constexpr char kSoapEndpointPath[] = "/quarrin/quarrinws.dll/soap/IQuarrin";
inline constexpr char kWsdlPath[] = "/quarrin/quarrinws.dll/wsdl/IQuarrin";

// The description whose port's soap:address is `endpoint_url` (escaped).
std::string ServiceDescription(std::string_view endpoint_url);

// The endpoint as a client reached the server: scheme, the request's Host
// header and the endpoint's path. Nullopt when the header is not a host
// name, an IPv4 address or a bracketed IPv6 address with an optional port,
// so that nothing else is echoed into the description.
std::optional<std::string> EndpointUrlFor(bool https, std::string_view host_header);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_WSDL_H_
