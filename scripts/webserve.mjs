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

// Debian's headless Chromium with WebGL2 by SwiftShader, its downloads going
// to `downloads` (made here). `downloaded(name)`, called before the click
// that starts one, resolves to the file's path once the next download is whole.
export async function openBrowser(puppeteer, downloads, extraArgs = []) {
  const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
                                          args: ['--no-sandbox', '--use-angle=swiftshader', ...extraArgs]});
  fs.mkdirSync(downloads, {recursive: true});
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads, eventsEnabled: true});
  const downloaded = name => new Promise(resolve => {
    const done = event => {
      if (event.state !== 'completed') return;
      cdp.off('Browser.downloadProgress', done);
      resolve(path.join(downloads, name));
    };
    cdp.on('Browser.downloadProgress', done);
  });
  return {browser, downloaded};
}
