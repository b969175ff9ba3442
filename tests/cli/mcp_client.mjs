// An agent driving `halvo-cli mcp` through the official MCP SDK client; run
// by McpEndToEndTest. Arguments: NPM_CACHE HALVO_CLI TOKEN PID PORT
// FOREIGN_PORT (0: none). Fails (exit status 1) on the first fault.
import assert from 'node:assert/strict';

const [cache, cli, token, pidText, portText, foreignPort] = process.argv.slice(2);
const [pid, port] = [Number(pidText), Number(portText)];
const sdk = `${cache}/node_modules/@modelcontextprotocol/sdk/dist/esm`;
const { Client } = await import(`${sdk}/client/index.js`);
const { StdioClientTransport } = await import(`${sdk}/client/stdio.js`);

const client = new Client({ name: 'halvo-e2e', version: '1.0.0' });
await client.connect(new StdioClientTransport({ command: cli, args: ['mcp'] }));
assert.equal(client.getServerVersion().name, 'halvo');

// The SDK checks every structured result against these output schemas.
const { tools } = await client.listTools();
assert.deepEqual(tools.map((t) => t.name).sort(), ['kill_servers', 'list_servers', 'wait_ports_free']);
for (const tool of tools) {
  assert.equal(tool.inputSchema.type, 'object');
  assert.equal(tool.outputSchema.type, 'object');
  assert.equal(tool.annotations.readOnlyHint, tool.name !== 'kill_servers');
  assert.equal(tool.annotations.destructiveHint, tool.name === 'kill_servers');
}
assert.equal(tools.find((t) => t.name === 'kill_servers').inputSchema.properties.dry_run.default, true);

const call = async (name, args) => {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, false, JSON.stringify(result));
  return result;
};
const listed = async (query) => (await call('list_servers', { query })).structuredContent;
const kill = async (args) => (await call('kill_servers', args)).structuredContent;

const rows = (await listed(token)).processes;
assert.deepEqual(rows.map((r) => [r.pid, r.port]), [[pid, port]]);
const started = rows[0].startTime;

let ended = await kill({ pid, started });
assert.deepEqual([ended.dryRun, ended.rows[0].status], [true, 'wouldEnd']);
assert.equal((await listed(token)).processes.length, 1, 'a dry run leaves it running');

const other = { seconds: started.seconds + 1, microseconds: started.microseconds };
ended = await kill({ pid, started: other, dry_run: false });
assert.deepEqual([ended.outcome, ended.rows[0].status], ['notAllEnded', 'changed']);

const result = await call('kill_servers', { pid, started, dry_run: false });
assert.deepEqual([result.structuredContent.outcome, result.structuredContent.rows[0].status], ['ok', 'ended']);
assert.equal(result.content[0].text, `Killed :${port}\n`);
assert.equal((await call('wait_ports_free', { ports: [port], timeout_seconds: 10 })).structuredContent.free, true);

if (foreignPort !== '0') {
  assert.equal((await listed(foreignPort)).heldByOthers[0].port, Number(foreignPort));
  ended = await kill({ queries: [foreignPort], dry_run: false });
  assert.equal(ended.outcome, 'notAllEnded');
  assert.equal(ended.rows[0].status, 'heldByOthers');
  assert.match(ended.rows[0].text, /is held by user .*; Halvo can only end your own processes/);
}
await client.close();
