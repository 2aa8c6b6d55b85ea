#!/usr/bin/env bash
# Writes what the real nginx needs to run the shipped site on loopback in
# front of the replicas on the ports given: a self-signed certificate, a
# password file with the user "user" (password "secret"), the site with
# those paths, the address and the upstream filled in, and an nginx.conf
# around it for one foreground process. Prints the command that starts it.
# Usage: proxy_front.sh SITE DIR LISTEN_PORT REPLICA_PORT...
set -euo pipefail
site=$1
dir=$2
listen_port=$3
shift 3
mkdir -p "$dir/tmp"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
  -keyout "$dir/key.pem" -out "$dir/cert.pem" 2> /dev/null
echo "user:$(openssl passwd -apr1 secret)" > "$dir/htpasswd"
replicas=""
for port in "$@"; do
  replicas+="    server 127.0.0.1:$port max_fails=1 fail_timeout=5s;\n"
done
sed -e "s|/etc/ssl/certs/comtrade-service.pem|$dir/cert.pem|" \
  -e "s|/etc/ssl/private/comtrade-service.key|$dir/key.pem|" \
  -e "s|/etc/comtrade-service/htpasswd|$dir/htpasswd|" \
  -e "s|listen 443 ssl;|listen 127.0.0.1:$listen_port ssl;|" -e "/listen \[::\]:443 ssl;/d" \
  -e "/^ *server 127\.0\.0\.1:[0-9]*.*;$/d" \
  -e "s|^upstream comtrade_replicas {|&\n$replicas|" "$site" > "$dir/site.conf"
cat > "$dir/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  include $dir/site.conf;
}
EOF
echo "nginx -p $dir -c $dir/nginx.conf"
