// The page's site on a port of this machine, as scripts/serve-web.sh serves
// it, for the browser tests and the bench:
//   const {origin, close} = await serveSite(SITE, {'maps': FOLDER, 'test.html': FILE});
// `routes` serves a first path part from a folder or a file of its own.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

const kTypes = {'.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
                '.wasm': 'application/wasm'};

export async function serveSite(site, routes = {}) {
  const server = http.createServer((request, response) => {
    const asked = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html');
    const [first, ...rest] = asked.slice(1).split('/');
    const root = routes[first] ?? site;
    const file = routes[first] !== undefined ? path.join(root, ...rest) : path.join(site, asked);
    if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': kTypes[path.extname(file)] ?? 'application/octet-stream'});
    fs.createReadStream(file).pipe(response);
  });
  await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
  return {origin: `http://127.0.0.1:${server.address().port}`, close: () => server.close()};
}
