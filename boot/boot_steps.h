// The pieces of the start-up sequence that carry decisions of their own.
#pragma once

#include <string>

// Host name "<printer name>-<serial number>", at most 31 characters.
std::string compose_host_name(const std::string& printer_name, const std::string& serial);

// True when the first line of the host name file's content (the first 32 bytes of the file)
// is exactly the host name.
bool host_name_matches(const std::string& file_head, const std::string& host_name);

// A slave version as engine_watch writes it, "NN.NN.NN.NN" (four decimal numbers of at least two
// digits each, optionally followed by more printable characters), taken up to the first line end
// and at most 21 characters. Empty when the text is not (yet) a complete version.
std::string complete_slave_version(const std::string& text);

// The Bluetooth address in the first line of "hcitool dev | grep hci0": the tab-separated field
// after the adapter name, cut to 17 characters; "ff:ff:ff:ff:ff:ff" when there is none.
std::string bluetooth_address_from_line(const std::string& line);

// "xx:xx:xx:xx:xx:xx" of six octets.
std::string format_mac(const unsigned char octets[6]);

// Writes the two lines "[MACAddress]" and "<key>=<address>" and runs "sync".
bool write_mac_record(const std::string& path, const char* key, const std::string& address);
