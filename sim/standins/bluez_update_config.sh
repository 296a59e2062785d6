# Stand-in of the virtual printer (sourced with "." after a host name change): records the call.
mkdir -p /sim/log
printf '%s\n' "/home/bluez_update_config.sh" >> /sim/log/calls.log
